#include "tftp-controller/system/distro_service.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include "platform/process/subprocess.h"
#include "tests/scratch_folder.h"
#include "tftp-controller/system/journal_source.h"
#include "tftp-controller/system/transfer_log.h"

namespace tftpc {
namespace {

// Qt D-Bus wants an application object, as the controller has one.
void NeedApplication() {
  static int argc = 1;
  static char name[] = "controller_system_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = QCoreApplication::instance() ? QCoreApplication::instance()
                                                              : new QCoreApplication(argc, argv);
  (void)app;
}

// A message bus of the test's own (dbus-daemon on a socket in a scratch folder), with nothing
// on it but what the test puts there.
class PrivateBus {
 public:
  PrivateBus() : folder_("systemd-bus") {
    const std::string config = folder_.File("bus.conf");
    std::ofstream(config) << "<busconfig><type>test</type><listen>unix:path=" << folder_.File("bus")
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow user=\"*\"/><allow own=\"*\"/><allow send_type=\"*\"/>"
                             "<allow receive_type=\"*\"/></policy></busconfig>\n";
    platform::OwnedFd read_end, write_end;
    if (!platform::MakePipe(&read_end, &write_end, nullptr)) return;
    daemon_ = platform::Spawn(
        kDaemon,
        {kDaemon, "--config-file=" + config, "--nofork", "--nopidfile", "--print-address=1"},
        platform::kNullDevice, write_end.get(), platform::kNullDevice, nullptr);
    write_end.Reset();
    char chunk[512];
    pollfd p = {read_end.get(), POLLIN, 0};
    while (address_.find('\n') == std::string::npos && poll(&p, 1, 10000) == 1) {
      const ssize_t n = read(read_end.get(), chunk, sizeof chunk);
      if (n <= 0) break;
      address_.append(chunk, static_cast<std::size_t>(n));
    }
    if (address_.find('\n') == std::string::npos) address_.clear();
    if (!address_.empty()) address_.erase(address_.find('\n'));
  }
  ~PrivateBus() {
    if (daemon_) kill(daemon_->pid(), SIGTERM);
  }
  static bool Available() { return access(kDaemon, X_OK) == 0; }
  const std::string& address() const { return address_; }

 private:
  static constexpr const char* kDaemon = "/usr/bin/dbus-daemon";
  test_support::ScratchFolder folder_;
  std::optional<platform::ChildProcess> daemon_;
  std::string address_;
};

// Holds systemd's name and object but never answers: its calls wait for this thread, which is
// blocked in the very call it would answer.
class SilentManager : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
};

template <typename F>
std::chrono::milliseconds Timed(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

TEST(DistroService, SaysWhyWhereNoSystemdAnswersAndNeverHangs) {
  NeedApplication();
  using std::chrono::milliseconds;
  test_support::ScratchFolder scratch("no-bus");

  std::string err;
  std::optional<DistroUnit> unit;
  // This machine's own system bus, where systemd does not run.
  if (access("/run/systemd/system", F_OK) != 0) {
    EXPECT_LT(Timed([&] { unit = QueryDistroUnit(&err); }), milliseconds(6000));
    EXPECT_FALSE(unit);
    EXPECT_NE(err.find("systemd does not run here"), std::string::npos) << err;
  }

  // No bus at all.
  err.clear();
  EXPECT_LT(
      Timed([&] { unit = QueryDistroUnitOn("unix:path=" + scratch.File("none"), 500, &err); }),
      milliseconds(3000));
  EXPECT_FALSE(unit);
  EXPECT_NE(err.find("cannot be reached"), std::string::npos) << err;
  EXPECT_NE(err.find("systemd does not run here"), std::string::npos) << err;

  if (!PrivateBus::Available()) GTEST_SKIP() << "needs dbus-daemon (package dbus)";
  PrivateBus bus;
  ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";

  // A bus without systemd on it.
  err.clear();
  EXPECT_LT(Timed([&] { unit = QueryDistroUnitOn(bus.address(), 500, &err); }), milliseconds(3000));
  EXPECT_FALSE(unit);
  EXPECT_NE(err.find("systemd does not run here"), std::string::npos) << err;
  err.clear();
  EXPECT_FALSE(TakeOverFromDistroUnitOn(bus.address(), 500, &err));
  EXPECT_NE(err.find("systemd does not run here"), std::string::npos) << err;

  // Something holds systemd's name and does not answer: each call gives up in its time.
  QDBusConnection holder =
      QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "silent systemd");
  SilentManager silent;
  ASSERT_TRUE(
      holder.registerVirtualObject("/org/freedesktop/systemd1", &silent, QDBusConnection::SubPath));
  ASSERT_TRUE(holder.registerService("org.freedesktop.systemd1"));
  err.clear();
  EXPECT_LT(Timed([&] { unit = QueryDistroUnitOn(bus.address(), 500, &err); }), milliseconds(3000));
  EXPECT_FALSE(unit);
  EXPECT_NE(err.find("did not answer within 500 ms"), std::string::npos) << err;
  err.clear();
  EXPECT_LT(Timed([&] { EXPECT_FALSE(TakeOverFromDistroUnitOn(bus.address(), 500, &err)); }),
            milliseconds(3000));
  EXPECT_NE(err.find("did not answer"), std::string::npos) << err;
  holder.unregisterObject("/org/freedesktop/systemd1");
  QDBusConnection::disconnectFromBus("silent systemd");
}

// Against the real systemd of a booted Debian 12 container (tests/distro_unit_systemd_test.sh
// boots it, with tftpd-hpa's own unit running in.tftpd -v -v on port 69, and names its
// process): the journal as the server wrote it, and the take-over. Seen from outside through
// the container's root, /proc/PID/root.
TEST(BootedSystemd, ReadsTheServersJournalAndTakesOverItsUnit) {
  const char* container = std::getenv("QRB_CONTAINER_PID");
  if (container == nullptr)
    GTEST_SKIP() << "run by tests/distro_unit_systemd_test.sh, which boots systemd in a container";
  NeedApplication();
  const std::string pid = container, root = "/proc/" + pid + "/root";
  const std::string bus = "unix:path=" + root + "/run/dbus/system_bus_socket";

  std::string err;
  auto unit = QueryDistroUnitOn(bus, 5000, &err);
  ASSERT_TRUE(unit) << err;
  EXPECT_TRUE(unit->loaded);
  EXPECT_TRUE(unit->active);
  EXPECT_TRUE(unit->enabled);
  // Debian 12's tftpd-hpa has an init script only, from which systemd makes the unit; the
  // script may give a unit file of its own instead ("enabled").
  const char* state = std::getenv("QRB_UNIT_FILE_STATE");
  const std::string before = state ? state : "generated";
  EXPECT_EQ(unit->unit_file_state, before);

  auto journal = JournalSource::OpenOsTree(root, &err);
  ASSERT_NE(journal, nullptr) << err;
  ASSERT_GE(journal->fd(), 0);
  for (const char* file : {"hello.txt", "missing.bin"}) {
    const std::string nsenter = "/usr/bin/nsenter";
    auto client =
        platform::Spawn(nsenter,
                        {nsenter, "-t", pid, "-a", "/usr/bin/tftp", "-m", "binary", "127.0.0.1",
                         "-c", "get", file, "/tmp/got"},
                        platform::kNullDevice, platform::kNullDevice, platform::kNullDevice, &err);
    ASSERT_TRUE(client) << err;
    client->Wait();
  }
  TransferLog log;
  std::string seen;  // every line read, for the failure's message
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while ((log.events().size() < 2 || !log.events()[1].failed) &&
         std::chrono::steady_clock::now() < deadline) {
    pollfd ready = {journal->fd(), POLLIN, 0};
    poll(&ready, 1, 250);
    for (const LogLine& line : journal->ReadNew()) {
      EXPECT_GT(line.time_usec, 0);
      seen += std::to_string(line.pid) + ": " + line.message + "\n";
      log.Add(line.time_usec, line.pid, line.message, "/srv/tftp");
    }
  }
  ASSERT_EQ(log.events().size(), 2u) << seen;
  EXPECT_EQ(log.events()[0].file, "hello.txt");
  EXPECT_EQ(log.events()[0].result, "sent");
  EXPECT_FALSE(log.events()[0].failed);
  EXPECT_EQ(log.events()[1].client, "127.0.0.1");
  EXPECT_EQ(log.events()[1].result, "not found");
  EXPECT_EQ(log.events()[1].asked_path, "/srv/tftp/missing.bin");

  ASSERT_TRUE(TakeOverFromDistroUnitOn(bus, 5000, &err)) << err;
  unit = QueryDistroUnitOn(bus, 5000, &err);
  ASSERT_TRUE(unit) << err;
  EXPECT_FALSE(unit->active);
  EXPECT_FALSE(unit->enabled);
  EXPECT_EQ(unit->unit_file_state, before == "generated" ? "masked" : "disabled");
  EXPECT_TRUE(TakeOverFromDistroUnitOn(bus, 5000, &err))
      << "a second take-over has nothing to do: " << err;
}

}  // namespace
}  // namespace tftpc
