#include "tftp-controller/window/main_window.h"

#include <libintl.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeySequence>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include "tftp-controller/checks/diagnosis.h"
#include "tftp-controller/checks/launchd_jobs.h"
#include "tftp-controller/service/say.h"
#include "tftp-controller/service/service_file.h"
#include "tftp-controller/system/distro_service.h"
#include "tftp-controller/window/background_call.h"
#include "tftp-controller/window/diagnose_section.h"
#include "tftp-controller/window/folder_section.h"
#include "tftp-controller/window/guide_dialog.h"
#include "tftp-controller/window/interfaces_section.h"
#include "tftp-controller/window/protocol_section.h"
#include "tftp-controller/window/status_section.h"
#include "tftp-controller/window/transfers_section.h"
#include "tftp-controller/window/uploads_section.h"
#include "utility/apps/app_utilities.h"
#include "utility/widgets/qrb_application.h"

#define _(s) gettext(s)

namespace tftpc {

namespace {

QGroupBox* Group(const char* title, QWidget* content) {
  auto* box = new QGroupBox(title);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(content);
  return box;
}

}  // namespace

MainWindow::MainWindow(WindowSetup setup, Settings settings, QWidget* parent)
    : QMainWindow(parent),
      setup_(std::move(setup)),
      settings_(std::move(settings)),
      backend_(std::make_shared<ServiceBackend>(setup_.backend)) {
  setWindowTitle(_("TFTP Controller"));
  setWindowIcon(QIcon::fromTheme("org.qrb.TftpController"));
  setCentralWidget(BuildSections());
  BuildMenus();
  resize(1080, 860);

  folder_->SetStartFolder(settings_.last_folder);
  if (setup_.read_interfaces) interfaces_->Refresh();
  LoadServiceDefinition();
  transfers_->SetFolderSource([this] { return folder_->Folder(); });
  if (setup_.read_transfers) {
    QTimer::singleShot(0, this, [this] { transfers_->SetSource(OpenTransferSource()); });
  }
  {
    const QSignalBlocker block(status_);
    status_->stopAfterBox()->setValue(static_cast<int>(settings_.stop_after_minutes));
  }
  RefreshStatus();
  stop_timer_.SetMinutes(settings_.stop_after_minutes, status_->shown().running,
                         StopTimer::Clock::now());
  UpdateCountdown();

  connect(status_, &StatusSection::startClicked, this, &MainWindow::StartService);
  connect(status_, &StatusSection::stopClicked, this, &MainWindow::StopService);
  connect(status_, &StatusSection::restartClicked, this, &MainWindow::RestartService);
  connect(status_, &StatusSection::takeOverClicked, this, &MainWindow::TakeOver);
  connect(status_, &StatusSection::stopJobClicked, this, &MainWindow::StopLaunchdJob);
  connect(status_, &StatusSection::stopAfterChanged, this, [this](unsigned minutes) {
    stop_timer_.SetMinutes(minutes, status_->shown().running, StopTimer::Clock::now());
    settings_.stop_after_minutes = minutes;
    SaveSettings();
    UpdateCountdown();
  });
  connect(folder_, &FolderSection::folderChanged, this, [this] {
    settings_.last_folder = folder_->Folder();
    SaveSettings();
    OnOptionsChanged();
  });
  connect(uploads_, &UploadsSection::changed, this, &MainWindow::OnOptionsChanged);
  connect(protocol_, &ProtocolSection::changed, this, &MainWindow::OnOptionsChanged);
  connect(interfaces_, &InterfacesSection::listenAddressChanged, this,
          &MainWindow::OnOptionsChanged);
  connect(diagnose_, &DiagnoseSection::diagnoseClicked, this, &MainWindow::RunDiagnosis);

  // One wake-up a second does everything that follows the clock: the status, the countdown and
  // a transfer source that cannot be waited on.
  tick_.setInterval(1000);
  connect(&tick_, &QTimer::timeout, this, &MainWindow::Tick);
  tick_.start();
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::BuildSections() {
  status_ = new StatusSection;
  folder_ = new FolderSection;
  uploads_ = new UploadsSection;
  protocol_ = new ProtocolSection;
  interfaces_ = new InterfacesSection;
  transfers_ = new TransfersSection;
  diagnose_ = new DiagnoseSection;

  auto* left = new QVBoxLayout;
  left->addWidget(Group(_("Served folder"), folder_));
  left->addWidget(Group(_("Uploads"), uploads_));
  left->addWidget(Group(_("Protocol"), protocol_));
  left->addStretch(1);
  auto* settings_row = new QHBoxLayout;
  settings_row->addLayout(left, 1);
  settings_row->addWidget(Group(_("Interfaces"), interfaces_), 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(Group(_("Transfers"), transfers_), 1);
  bottom->addWidget(Group(_("Diagnose"), diagnose_), 1);

  auto* content = new QWidget;
  auto* layout = new QVBoxLayout(content);
  layout->setContentsMargins(12, 10, 12, 12);
  layout->setSpacing(10);
  layout->addWidget(status_);
  layout->addLayout(settings_row);
  layout->addLayout(bottom, 1);

  auto* scroll = new QScrollArea;
  scroll->setWidget(content);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  return scroll;
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(_("&File"));
  QAction* quit = file->addAction(_("&Quit"));
  quit->setShortcut(QKeySequence::Quit);
  connect(quit, &QAction::triggered, this, [quit] { QRBApplication::safeQuit(quit); });
  QMenu* help = menuBar()->addMenu(_("&Help"));
  connect(help->addAction(_("&Getting started")), &QAction::triggered, this,
          [this] { ShowGuide(this); });
  connect(help->addAction(_("&About TFTP Controller")), &QAction::triggered, this,
          &MainWindow::ShowAbout);
}

void MainWindow::ShowGuideIfFirstLaunch() {
  if (!settings_.first_launch) return;
  ShowGuide(this);
  settings_.first_launch = false;
  SaveSettings();
}

void MainWindow::ShowAbout() {
  QMessageBox::about(
      this, _("About TFTP Controller"),
      QString("<p><b>%1</b></p><p>%2</p><p>%3</p>")
          .arg(_("TFTP Controller"), QString(_("Version %1")).arg(AppVersion()),
               _("Serves a folder to devices over TFTP, through xinetd and in.tftpd.")));
}

void MainWindow::LoadServiceDefinition() {
  ServerOptions options;
  const ServiceDefinition definition = ReadServiceDefinition(setup_.backend.service_file);
  std::vector<std::string> unknown;
  std::string err;
  if (definition.found && OptionsOfDefinition(definition, &options, &unknown, &err)) {
    applied_ = options;
    // A line this window would write otherwise (an insecure -i, another order) is written anew
    // at the next start, unless that would drop words it does not know.
    if (unknown.empty() && ServerArgsLine(options) != definition.server_args) applied_.reset();
  } else {
    if (!settings_.last_folder.empty()) options.folder = settings_.last_folder;
    if (definition.found) {
      status_->ShowMessage(QString(_("The service's settings could not be read: %1"))
                               .arg(QString::fromStdString(err)),
                           true);
    }
  }
  ShowOptions(options);
}

void MainWindow::SaveSettings() {
  if (setup_.settings_path.empty()) return;
  std::string err;
  if (!tftpc::SaveSettings(setup_.settings_path, settings_, &err)) {
    status_->ShowMessage(
        QString(_("The settings could not be saved: %1")).arg(QString::fromStdString(err)), true);
  }
}

std::optional<ServerOptions> MainWindow::CurrentOptions(std::string* err) const {
  ServerOptions options = applied_.value_or(ServerOptions{});
  options.folder = folder_->Folder();
  options.listen_address = interfaces_->ListenAddress();
  if (!uploads_->ReadOptions(&options, err)) return std::nullopt;
  protocol_->ReadOptions(&options);
  if (auto problem = ProblemWith(options)) {
    *err = *problem;
    return std::nullopt;
  }
  return options;
}

void MainWindow::ShowOptions(const ServerOptions& options) {
  folder_->SetFolder(options.folder);
  interfaces_->SetListenAddress(options.listen_address);
  uploads_->ShowOptions(options);
  protocol_->ShowOptions(options);
  folder_->Check(options.uploads);
}

void MainWindow::OnOptionsChanged() {
  std::string err;
  const std::optional<ServerOptions> options = CurrentOptions(&err);
  folder_->Check(uploads_->allowUploads()->isChecked());
  if (!options) {
    status_->ShowMessage(QString::fromStdString(err), true);
  } else if (status_->shown().running && options != applied_) {
    status_->ShowMessage(_("Press Restart to serve with the changed settings."), false);
  } else {
    status_->ShowMessage({}, false);
  }
}

void MainWindow::RunServiceCall(const QString& what, bool apply_first, Call call,
                                const QString& done, bool say_words) {
  if (busy_) return;
  std::string err;
  std::optional<ServerOptions> options;
  if (apply_first) {
    options = CurrentOptions(&err);
    if (!options) {
      status_->ShowMessage(QString::fromStdString(err), true);
      return;
    }
    if (options == applied_) options.reset();  // nothing to write
  }
  busy_ = true;
  status_->SetBusy(true, what);
  struct Outcome {
    bool applied = false;  // the options were written
    BackendResult result;
  };
  auto outcome = std::make_shared<Outcome>();
  std::shared_ptr<ServiceBackend> backend = backend_;
  RunInBackground(
      this,
      [backend, options, call = std::move(call), outcome] {
        if (options) {
          outcome->result = backend->ApplyOptions(*options);
          if (!outcome->result.ok) return;
          outcome->applied = true;
        }
        outcome->result = call(*backend);
      },
      [this, options, outcome, done, say_words] {
        busy_ = false;
        status_->SetBusy(false);
        if (outcome->applied) applied_ = options;
        const BackendResult& result = outcome->result;
        QString message = done;
        if (!result.ok) {
          message = result.message.empty() ? QString(_("The back end failed and said nothing."))
                                           : QString::fromStdString(result.message);
        } else if (say_words && !result.message.empty()) {
          message += (message.isEmpty() ? "" : "\n") + QString::fromStdString(result.message);
        }
        status_->ShowMessage(message, !result.ok);
        RefreshStatus();
        tick_.start();  // the next reading a full second after this one
      });
}

void MainWindow::StartService() {
  RunServiceCall(_("Starting the service…"), true,
                 [](ServiceBackend& backend) { return backend.Start(); });
}

void MainWindow::RestartService() {
  RunServiceCall(_("Restarting the service…"), true,
                 [](ServiceBackend& backend) { return backend.Restart(); });
}

void MainWindow::StopService() {
  RunServiceCall(_("Stopping the service…"), false,
                 [](ServiceBackend& backend) { return backend.Stop(); });
}

void MainWindow::TakeOver() {
  RunServiceCall(
      _("Stopping and disabling the distribution's TFTP service…"), false,
      [](ServiceBackend&) {
        BackendResult result;
        std::string err;
        result.ok = TakeOverFromDistroUnit(&err);
        result.message = result.ok ? std::string() : err;
        return result;
      },
      QString(_("%1 is stopped and disabled: press Start to serve from here.")).arg(kDistroUnit));
}

// launchdtool runs as the user (it is set-user-ID root). Whatever it says, the job is stopped
// when its units are gone.
void MainWindow::StopLaunchdJob(const std::string& definition) {
  const std::vector<std::string> folders = setup_.status.launchd_folders;
  RunServiceCall(
      QString(_("Unloading the job of %1…")).arg(QString::fromStdString(definition)), false,
      [definition, folders](ServiceBackend& backend) {
        BackendResult result = backend.UnloadLaunchdJob(definition);
        if (!result.ok) return result;
        for (const LaunchdJob& job : ReadLaunchdJobs(folders)) {
          if (job.definition != definition) continue;
          result.ok = false;
          if (result.message.empty())
            result.message =
                Say(_("launchdtool said nothing, and the job %@ is still loaded."), {job.label});
        }
        return result;
      },
      QString(_("The job of %1 is unloaded.")).arg(QString::fromStdString(definition)), true);
}

void MainWindow::RunDiagnosis() {
  std::string err;
  std::optional<ServerOptions> options = CurrentOptions(&err);
  if (!options) {
    status_->ShowMessage(QString::fromStdString(err), true);
    return;
  }
  diagnose_->SetRunning(true);
  auto findings = std::make_shared<std::vector<Finding>>();
  const ServiceStatus status = status_->shown();
  RunInBackground(
      this,
      [options = *options, status, findings] {
        *findings = Diagnose(GatherFacts(options, status));
      },
      [this, findings] { diagnose_->ShowFindings(*findings); });
}

void MainWindow::RefreshStatus() {
  status_->ShowStatus(ReadServiceStatus(setup_.status));
}

void MainWindow::Tick() {
  RefreshStatus();
  transfers_->Poll();
  const bool running = status_->shown().running;
  if (stop_timer_.Tick(running, StopTimer::Clock::now())) stop_due_ = true;
  if (stop_due_ && !running) stop_due_ = false;
  if (stop_due_ && !busy_) {
    stop_due_ = false;
    RunServiceCall(
        _("Stopping the service: its time is up…"), false,
        [](ServiceBackend& backend) { return backend.Stop(); },
        QString(ngettext("Stopped after %1 minute, as Stop after says.",
                         "Stopped after %1 minutes, as Stop after says.", stop_timer_.minutes()))
            .arg(stop_timer_.minutes()));
  }
  UpdateCountdown();
}

void MainWindow::UpdateCountdown() {
  const auto left = stop_timer_.Remaining(StopTimer::Clock::now());
  status_->ShowCountdown(
      left ? QString(_("stops in %1")).arg(QString::fromStdString(CountdownText(*left)))
           : QString());
}

}  // namespace tftpc
