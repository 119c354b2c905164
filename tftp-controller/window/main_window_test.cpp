#include "tftp-controller/window/main_window.h"

#include <gtest/gtest.h>
#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "tests/desktop/offscreen_application.h"
#include "tests/scratch_folder.h"
#include "tftp-controller/checks/proc_tree_testing.h"
#include "tftp-controller/window/folder_section.h"
#include "tftp-controller/window/interfaces_section.h"
#include "tftp-controller/window/protocol_section.h"
#include "tftp-controller/window/status_section.h"
#include "tftp-controller/window/uploads_section.h"

namespace tftpc {
namespace {

// A window that reads no interfaces, no log and a service file that is not there.
WindowSetup QuietSetup() {
  WindowSetup setup;
  setup.backend.service_file = "/nonexistent/tftp";
  setup.status.service_file = "/nonexistent/tftp";
  setup.status.pid_file = "/nonexistent/xinetd.pid";
  setup.read_transfers = false;
  setup.read_interfaces = false;
  return setup;
}

// The program's texts in one language while it lives, from the catalogs the build compiled.
// gettext reads LANGUAGE only where the messages' locale is not "C", so C.UTF-8 stands in for a
// locale of that language, which the machine need not have. Made after the application, whose
// start sets the locale from the environment.
class CatalogLanguage {
 public:
  explicit CatalogLanguage(const char* language) {
    const char* before = std::getenv("LANGUAGE");
    if (before) language_ = before;
    locale_ = std::setlocale(LC_MESSAGES, nullptr);
    domain_ = textdomain(nullptr);
    setenv("LANGUAGE", language, 1);
    std::setlocale(LC_MESSAGES, "C.UTF-8");
    bindtextdomain("tftp-controller", QRB_CONTROLLER_LOCALE);
    bind_textdomain_codeset("tftp-controller", "UTF-8");
    textdomain("tftp-controller");
  }
  ~CatalogLanguage() {
    if (language_) {
      setenv("LANGUAGE", language_->c_str(), 1);
    } else {
      unsetenv("LANGUAGE");
    }
    std::setlocale(LC_MESSAGES, locale_.c_str());
    textdomain(domain_.c_str());
  }
  CatalogLanguage(const CatalogLanguage&) = delete;
  CatalogLanguage& operator=(const CatalogLanguage&) = delete;

 private:
  std::optional<std::string> language_;
  std::string locale_;
  std::string domain_;
};

// Every widget's accessible name, in the order the window made them.
QStringList AccessibleNames(const QWidget& window) {
  QStringList names;
  for (const QWidget* widget : window.findChildren<QWidget*>()) {
    if (!widget->accessibleName().isEmpty()) names << widget->accessibleName();
  }
  return names;
}

ServerOptions With(void (*change)(ServerOptions&)) {
  ServerOptions options;
  change(options);
  return options;
}

TEST(MainWindowTest, EveryOptionGoesThroughTheWidgetsAndBackUnchanged) {
  desktop_testing::OffscreenApplication();
  MainWindow window(QuietSetup(), Settings{});
  const ServerOptions table[] = {
      ServerOptions{},
      With([](ServerOptions& o) { o.folder = "/home/ann/boot-images"; }),
      With([](ServerOptions& o) { o.listen_address = "192.0.2.10"; }),
      With([](ServerOptions& o) {
        o.uploads = true;
        o.umask = 022;
        o.permissive = true;
      }),
      With([](ServerOptions& o) {
        o.uploads = true;
        o.umask = 0;
      }),
      With([](ServerOptions& o) {
        o.block_size = 1468;
        o.idle_timeout = 60;
        o.retransmit_us = 250000;
      }),
      With([](ServerOptions& o) {
        o.port_range = PortRange{50000, 50100};
      }),
      With([](ServerOptions& o) { o.family = AddressFamily::kIPv4Only; }),
      With([](ServerOptions& o) {
        o.family = AddressFamily::kIPv6Only;
        o.map_names = true;
      }),
  };
  for (const ServerOptions& options : table) {
    SCOPED_TRACE(ServerArgsLine(options));
    window.ShowOptions(options);
    std::string err;
    const std::optional<ServerOptions> read = window.CurrentOptions(&err);
    ASSERT_TRUE(read.has_value()) << err;
    EXPECT_EQ(*read, options);
  }
  // After a range, none: the range's boxes keep their numbers but are not read.
  window.ShowOptions(ServerOptions{});
  EXPECT_FALSE(window.protocolSection()->firstPort()->isEnabled());
  // Without uploads the umask field is off; with them, a bad umask is refused in words.
  EXPECT_FALSE(window.uploadsSection()->umaskField()->isEnabled());
  window.uploadsSection()->allowUploads()->setChecked(true);
  EXPECT_TRUE(window.uploadsSection()->umaskField()->isEnabled());
  window.uploadsSection()->umaskField()->setText("1777");
  std::string err;
  EXPECT_FALSE(window.CurrentOptions(&err).has_value());
  EXPECT_EQ(err, "The umask must be an octal number from 0 to 0777.");
  // What the service file cannot carry is refused in the checker's words.
  window.uploadsSection()->umaskField()->setText("022");
  window.ShowOptions(With([](ServerOptions& o) { o.folder = "/srv/boot images"; }));
  EXPECT_FALSE(window.CurrentOptions(&err).has_value());
  EXPECT_NE(err.find("holds a space"), std::string::npos) << err;
  // The lowest block size the server takes is the first one past its default.
  window.ShowOptions(ServerOptions{});
  window.protocolSection()->blockSize()->stepUp();
  EXPECT_EQ(window.CurrentOptions(&err)->block_size, 512u);
  // And the shortest retransmit timeout it takes, in steps of that.
  window.protocolSection()->retransmit()->stepUp();
  EXPECT_EQ(window.CurrentOptions(&err)->retransmit_us, 10000u);
}

TEST(MainWindowTest, UmaskTextReadsOctalUpTo0777) {
  const struct {
    const char* text;
    bool ok;
    std::optional<unsigned> umask;
  } cases[] = {{"", true, std::nullopt}, {"  ", true, std::nullopt}, {"022", true, 022u},
               {"0027", true, 027u},     {"777", true, 0777u},       {"0777", true, 0777u},
               {"1000", false, {}},      {"8", false, {}},           {"02 2", false, {}},
               {"-1", false, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<unsigned> umask = 0123;
    EXPECT_EQ(ParseUmask(c.text, &umask), c.ok);
    if (c.ok) {
      EXPECT_EQ(umask, c.umask);
    }
  }
  EXPECT_EQ(UmaskText(022u), "0022");
  EXPECT_EQ(UmaskText(std::nullopt), "");
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A back-end program that notes its arguments and refuses, as configtool does on a full disk.
void WriteRefusingProgram(const std::string& path, const std::string& log) {
  std::ofstream(path) << "#!/bin/sh\n"
                         "echo \"$*\" >>"
                      << log
                      << "\n"
                         "echo \"configtool: cannot replace $1: No space left on device\" >&2\n"
                         "exit 1\n";
  chmod(path.c_str(), 0755);
}

// Start runs on a worker with the buttons off; the options are written first only when they
// differ from the service file's; a refusal is shown in the program's own words.
TEST(MainWindowTest, StartWritesChangedOptionsFirstAndShowsTheBackEndsWords) {
  if (geteuid() != 0) GTEST_SKIP() << "the back end runs without asking only for root";
  desktop_testing::OffscreenApplication();
  test_support::ScratchFolder scratch("window");
  const std::string service = scratch.path() + "/tftp";
  const std::string log = scratch.path() + "/calls";
  std::ofstream(service)
      << "service tftp\n{\n\tdisable = yes\n\tserver_args = -v -v -s /srv/tftp\n}\n";
  WindowSetup setup = QuietSetup();
  setup.backend.service_file = service;
  setup.backend.configtool = scratch.path() + "/configtool";
  setup.backend.xinetdtool = scratch.path() + "/xinetdtool";
  WriteRefusingProgram(setup.backend.configtool, log);
  WriteRefusingProgram(setup.backend.xinetdtool, log);
  MainWindow window(setup, Settings{});
  EXPECT_EQ(window.folderSection()->Folder(), "/srv/tftp");  // read from the service file
  QLabel* message = nullptr;
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (label->accessibleName() == "Message") message = label;
  }
  ASSERT_NE(message, nullptr);

  const struct {
    const char* folder;
    std::string call;  // what the back end was asked first
  } steps[] = {
      {"/srv/tftp", service + " disable no yes"},
      {"/srv/boot", service + " server_args -v -v -s /srv/boot -v -v -s /srv/tftp"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.folder);
    unlink(log.c_str());
    window.folderSection()->SetFolder(step.folder);
    StatusSection* status = window.statusSection();
    status->startButton()->click();
    EXPECT_FALSE(status->startButton()->isEnabled());  // while the call runs
    EXPECT_FALSE(status->stopButton()->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return status->startButton()->isEnabled(); }, 10000));
    EXPECT_EQ(Slurp(log), step.call + "\n");  // and nothing after the refusal
    EXPECT_EQ(message->text().toStdString(),
              "configtool: cannot replace " + service + ": No space left on device");
    EXPECT_TRUE(message->isVisibleTo(&window));
  }
}

// A definition in insecure mode (-i) is written in secure mode at the next Start, though the
// widgets show nothing changed; one with words the window does not know is left as it is.
TEST(MainWindowTest, AnInsecureDefinitionIsMadeSecureAtTheNextStart) {
  if (geteuid() != 0) GTEST_SKIP() << "the back end runs without asking only for root";
  desktop_testing::OffscreenApplication();
  test_support::ScratchFolder scratch("window");
  const std::string service = scratch.path() + "/tftp";
  const std::string log = scratch.path() + "/calls";
  WindowSetup setup = QuietSetup();
  setup.backend.service_file = service;
  setup.backend.configtool = scratch.path() + "/configtool";
  setup.backend.xinetdtool = scratch.path() + "/xinetdtool";
  WriteRefusingProgram(setup.backend.configtool, log);
  WriteRefusingProgram(setup.backend.xinetdtool, log);
  const struct {
    const char* server_args;
    std::string first_call;
  } cases[] = {
      {"-v -i /srv/tftp", service + " server_args -v -v -s /srv/tftp -v -i /srv/tftp"},
      // A line of the single -v of earlier versions gains the second, for the refusals.
      {"-v -s /srv/tftp", service + " server_args -v -v -s /srv/tftp -v -s /srv/tftp"},
      {"-v -v -s /srv/tftp", service + " disable no yes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server_args);
    std::ofstream(service) << "service tftp\n{\n\tdisable = yes\n\tserver_args = " << c.server_args
                           << "\n}\n";
    unlink(log.c_str());
    MainWindow window(setup, Settings{});
    EXPECT_EQ(window.folderSection()->Folder(), "/srv/tftp");
    StatusSection* status = window.statusSection();
    status->startButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return status->startButton()->isEnabled(); }, 10000));
    EXPECT_EQ(Slurp(log), c.first_call + "\n");
  }
}

// A job launchctl loaded holds the port through systemd: the window names it and offers its own
// stop, which runs "launchdtool unload DEFINITION" as the user and shows what it said. The job is
// stopped when its units are gone, whatever the program's words; a refusal leaves the button.
TEST(MainWindowTest, ALaunchdJobOnThePortIsStoppedWithLaunchdtool) {
  desktop_testing::OffscreenApplication();
  test_support::ScratchFolder scratch("window");
  const std::string units = scratch.File("units"), log = scratch.File("calls");
  const std::string definition = "/etc/qrb-tftp-controller/tftp.plist";
  testing::CraftProc(scratch.File("proc"), {{"::", 69, 0, 7001}},
                     {{1, "systemd", 0, 'S', "0::/init.scope\n"}});
  WindowSetup setup = QuietSetup();
  setup.status.proc = scratch.File("proc");
  setup.status.launchd_folders = {scratch.File("run"), units};
  setup.backend.launchdtool = scratch.File("launchdtool");
  const struct {
    const char* name;
    std::string script;  // what the stand-in does after noting its arguments
    bool unloaded;
    std::string message;
  } cases[] = {
      {"refused", "echo \"Refusing $2: its folder is writable by others\" >&2\nexit 1\n", false,
       "Refusing " + definition + ": its folder is writable by others"},
      {"unloaded",
       "rm " + units + "/org.qrb.tftp.socket " + units + "/org.qrb.tftp.service\n" +
           "echo \"Removed \\\"/etc/systemd/system/sockets.target.wants/org.qrb.tftp.socket\\\".\" "
           ">&2\n",
       true,
       "The job of " + definition +
           " is unloaded.\nRemoved "
           "\"/etc/systemd/system/sockets.target.wants/org.qrb.tftp.socket\"."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::create_directories(units);
    const std::string marker =
        "# Made by launchctl from a job definition\n# Label=\"org.qrb.tftp\"\n"
        "# Definition=\"" +
        definition + "\"\n\n";
    std::ofstream(units + "/org.qrb.tftp.socket") << marker << "[Socket]\nListenDatagram=69\n";
    std::ofstream(units + "/org.qrb.tftp.service") << marker << "[Service]\n";
    std::ofstream(setup.backend.launchdtool) << "#!/bin/sh\necho \"$*\" >>" << log << "\n"
                                             << c.script;
    chmod(setup.backend.launchdtool.c_str(), 0755);
    unlink(log.c_str());

    MainWindow window(setup, Settings{});
    window.show();
    StatusSection* status = window.statusSection();
    QPushButton* stop_job = status->stopJobButton();
    EXPECT_EQ(stop_job->accessibleName(), "Stop job");
    ASSERT_TRUE(stop_job->isVisibleTo(&window));
    EXPECT_NE(status->statusLabel()->text().toStdString().find(
                  "held by the launchd job org.qrb.tftp (" + definition + ")"),
              std::string::npos)
        << status->statusLabel()->text().toStdString();
    stop_job->click();
    EXPECT_FALSE(stop_job->isEnabled());  // while the call runs
    ASSERT_TRUE(QTest::qWaitFor([&] { return status->startButton()->isEnabled(); }, 10000));
    EXPECT_EQ(Slurp(log), "unload " + definition + "\n");
    QLabel* message = nullptr;
    for (QLabel* label : window.findChildren<QLabel*>()) {
      if (label->accessibleName() == "Message") message = label;
    }
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text().toStdString(), c.message);
    EXPECT_EQ(message->styleSheet().contains("#b3261e"), !c.unloaded);  // an error is red
    EXPECT_EQ(stop_job->isVisibleTo(&window), !c.unloaded);
  }
}

// The guide shows at the first launch only: once shown, the settings say so.
TEST(MainWindowTest, TheGuideShowsOnceAndTheSettingsRememberIt) {
  desktop_testing::OffscreenApplication();
  test_support::ScratchFolder scratch("window");
  WindowSetup setup = QuietSetup();
  setup.settings_path = scratch.path() + "/Settings.plist";
  auto guides = [](const MainWindow& window) {
    int shown = 0;
    for (QDialog* dialog : window.findChildren<QDialog*>()) shown += dialog->isVisible();
    return shown;
  };
  for (int launch = 0; launch < 2; ++launch) {
    SCOPED_TRACE(launch);
    MainWindow window(setup, LoadSettings(setup.settings_path));
    EXPECT_EQ(window.settings().first_launch, launch == 0);
    window.show();
    window.ShowGuideIfFirstLaunch();
    EXPECT_EQ(guides(window), launch == 0 ? 1 : 0);
    EXPECT_FALSE(LoadSettings(setup.settings_path).first_launch);
    // The stop timer's minutes are kept too.
    window.statusSection()->stopAfterBox()->setValue(15 + launch);
    EXPECT_EQ(LoadSettings(setup.settings_path).stop_after_minutes, 15u + launch);
  }
}

// Tab reaches every named control, in the order the window is read: top to bottom, left column
// before right.
TEST(MainWindowTest, TabReachesEveryNamedControlInReadingOrder) {
  desktop_testing::OffscreenApplication();
  MainWindow window(QuietSetup(), Settings{});
  ServiceStatus running;
  running.running = running.enabled = true;
  window.statusSection()->ShowStatus(running);
  window.show();
  QStringList order;
  QWidget* start = window.statusSection()->stopButton();
  QWidget* widget = start;
  do {
    if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisibleTo(&window) &&
        !widget->accessibleName().isEmpty()) {
      order << widget->accessibleName();
    }
    widget = widget->nextInFocusChain();
  } while (widget != start);
  const QStringList named = {"Stop",          "Restart",       "Stop after", "Served folder",
                             "Choose folder", "Allow uploads", "Interfaces", "Listen on",
                             "Transfers",     "Diagnose"};
  qsizetype at = -1;
  for (const QString& name : named) {
    const qsizetype found = order.indexOf(name);
    EXPECT_GT(found, at) << name.toStdString() << " in " << order.join(", ").toStdString();
    at = std::max(at, found);
  }
}

// Alt and a letter reaches one control only, in every language the program ships: a letter two
// controls share would make the keyboard cycle between them instead of pressing the button.
TEST(MainWindowTest, EveryMnemonicOfTheWindowIsItsOwn) {
  struct Case {
    const char* language;  // nullptr: the program's own English
    std::vector<const char*> key_buttons;
  };
  const Case cases[] = {
      {nullptr, {"&Start", "S&top", "&Restart", "&Diagnose", "&Choose folder…"}},
      {"de", {"&Starten", "S&toppen", "&Neu starten", "Dia&gnose", "Ordner &wählen …"}},
  };
  desktop_testing::OffscreenApplication();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language ? c.language : "en");
    std::optional<CatalogLanguage> language;
    if (c.language) language.emplace(c.language);
    MainWindow window(QuietSetup(), Settings{});
    QMap<QChar, QStringList> owners;
    auto note = [&](const QString& text) {
      for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (text[i + 1] != '&') owners[text[i + 1].toLower()].append(text);
        ++i;
      }
    };
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) note(button->text());
    for (QLabel* label : window.findChildren<QLabel*>()) {
      if (label->buddy()) note(label->text());
    }
    for (QAction* menu : window.menuBar()->actions()) note(menu->text());
    EXPECT_GE(owners.size(), 15);
    for (auto it = owners.begin(); it != owners.end(); ++it) {
      EXPECT_EQ(it.value().size(), 1) << it.value().join(", ").toStdString();
    }
    // The buttons the keyboard needs most have their letters.
    for (const char* text : c.key_buttons) {
      bool found = false;
      for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        found = found || button->text() == QString::fromUtf8(text);
      }
      EXPECT_TRUE(found) << text;
    }
  }
}

// With the German catalog the window speaks German, while every accessible name stays the one
// tests and screen-reader scripts find the controls by.
TEST(MainWindowTest, TheGermanCatalogChangesTheTextsButNoAccessibleName) {
  desktop_testing::OffscreenApplication();
  QStringList english;
  {
    MainWindow window(QuietSetup(), Settings{});
    english = AccessibleNames(window);
    EXPECT_EQ(window.statusSection()->startButton()->text(), "&Start");
  }
  CatalogLanguage german("de");
  MainWindow window(QuietSetup(), Settings{});
  StatusSection* status = window.statusSection();
  EXPECT_EQ(status->startButton()->text(), "&Starten");
  EXPECT_EQ(status->startButton()->accessibleName(), "Start");
  EXPECT_EQ(status->restartButton()->text(), "&Neu starten");
  EXPECT_EQ(status->restartButton()->accessibleName(), "Restart");
  // A text put together from a format and a value takes the value where German wants it.
  EXPECT_EQ(FolderCheckText("/srv/tftp", false, FolderCheck{}), "Der Server kann /srv/tftp lesen.");
  EXPECT_EQ(window.menuBar()->actions().value(0)->text(), QString::fromUtf8("&Datei"));
  EXPECT_EQ(AccessibleNames(window), english);
  for (const char* name :
       {"Start", "Stop", "Restart", "Status", "Served folder", "Choose folder", "Allow uploads",
        "Listen on", "Interfaces", "Transfers", "Diagnose", "Stop after"}) {
    EXPECT_TRUE(english.contains(name)) << name;
  }
}

}  // namespace
}  // namespace tftpc
