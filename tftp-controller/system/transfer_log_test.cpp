#include "tftp-controller/system/transfer_log.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/scratch_folder.h"

namespace tftpc {
namespace {

// One datagram as in.tftpd hands it to syslog: "<29>Dec  8 18:59:47 in.tftpd[9152]: TEXT".
struct Datagram {
  pid_t pid = 0;
  std::string message;
};
bool ParseDatagram(const std::string& raw, Datagram* out) {
  const std::size_t tag = raw.find(" in.tftpd[");
  if (raw.empty() || raw[0] != '<' || tag == std::string::npos) return false;
  const std::size_t close = raw.find("]: ", tag);
  if (close == std::string::npos) return false;
  out->pid = std::stoi(raw.substr(tag + 10, close - tag - 10));
  out->message = raw.substr(close + 3);
  return true;
}

std::vector<TransferEvent> Fold(const std::vector<std::string>& raw, const std::string& folder) {
  TransferLog log;
  std::int64_t time = 1000;
  for (const std::string& line : raw) {
    Datagram d;
    EXPECT_TRUE(ParseDatagram(line, &d)) << line;
    log.Add(++time, d.pid, d.message, folder);
  }
  return log.events();
}

TransferEvent Event(std::int64_t time, const std::string& client, const std::string& file,
                    Direction direction, const std::string& result, bool failed,
                    const std::string& asked = "") {
  return {time, client, file, direction, result, failed, asked};
}

// Captured from /dev/log (a datagram socket of the test's own in a private mount namespace)
// while in.tftpd 5.2 of tftpd-hpa 5.2+20150808-1.4 (Debian 12) served /tmp/sys-exp/srv to the
// tftp client of tftp-hpa and to hand-made packets. Server options: the first run
// "-L -v -v -a 127.0.0.1:16969", the second "-L -v -v -c -T 200000 -m REMAP -a [::1]:16969".
// Successful transfers are logged by their request alone; refusals only from -v -v on.
TEST(TransferLog, FoldsTheLinesTheServerWroteIntoTransfers) {
  const std::vector<std::string> first_run = {
      "<29>Dec  8 18:59:47 in.tftpd[9152]: RRQ from 127.0.0.1 filename hello.txt\n",
      "<29>Dec  8 18:59:47 in.tftpd[9154]: RRQ from 127.0.0.1 filename missing.bin\n",
      "<30>Dec  8 18:59:47 in.tftpd[9154]: sending NAK (1, File not found) to 127.0.0.1",
      "<29>Dec  8 18:59:47 in.tftpd[9156]: RRQ from 127.0.0.1 filename sub/deep/missing.bin\n",
      "<30>Dec  8 18:59:47 in.tftpd[9156]: sending NAK (1, File not found) to 127.0.0.1",
      "<29>Dec  8 18:59:47 in.tftpd[9158]: RRQ from 127.0.0.1 filename secret.txt\n",
      "<30>Dec  8 18:59:47 in.tftpd[9158]: sending NAK (0, Permission denied) to 127.0.0.1",
      "<29>Dec  8 18:59:47 in.tftpd[9160]: WRQ from 127.0.0.1 filename up.txt\n",
      "<30>Dec  8 18:59:47 in.tftpd[9160]: sending NAK (1, File not found) to 127.0.0.1",
      "<29>Dec  8 18:59:47 in.tftpd[9162]: RRQ from 127.0.0.1 filename ../etc/passwd\n",
      "<30>Dec  8 18:59:47 in.tftpd[9162]: sending NAK (1, File not found) to 127.0.0.1",
      "<29>Dec  8 18:59:47 in.tftpd[9164]: RRQ from 127.0.0.1 filename "
      "/tmp/sys-exp/srv/hello.txt\n",
      "<30>Dec  8 18:59:47 in.tftpd[9164]: sending NAK (1, File not found) to 127.0.0.1",
  };
  const std::string srv = "/tmp/sys-exp/srv";
  const Direction r = Direction::kRead, w = Direction::kWrite;
  const std::string lo = "127.0.0.1";
  EXPECT_EQ(Fold(first_run, srv + "/"),
            (std::vector<TransferEvent>{
                Event(1001, lo, "hello.txt", r, "sent", false),
                Event(1002, lo, "missing.bin", r, "not found", true, srv + "/missing.bin"),
                Event(1004, lo, "sub/deep/missing.bin", r, "not found", true,
                      srv + "/sub/deep/missing.bin"),
                Event(1006, lo, "secret.txt", r, "access denied", true),
                // Without -c a new file may not be made: in.tftpd says "not found".
                Event(1008, lo, "up.txt", w, "not found", true, srv + "/up.txt"),
                // The server's root is the folder: ".." at it stays there, "/" starts there.
                Event(1010, lo, "../etc/passwd", r, "not found", true, srv + "/etc/passwd"),
                Event(1012, lo, "/tmp/sys-exp/srv/hello.txt", r, "not found", true,
                      srv + srv + "/hello.txt"),
            }));

  const std::vector<std::string> second_run = {
      "<29>Dec  8 19:00:44 in.tftpd[10854]: WRQ from ::1 filename up.txt\n",
      "<29>Dec  8 19:00:44 in.tftpd[10856]: WRQ from ::1 filename ro.txt\n",
      "<30>Dec  8 19:00:44 in.tftpd[10856]: sending NAK (0, Permission denied) to ::1",
      "<29>Dec  8 19:00:44 in.tftpd[10858]: RRQ from ::1 filename HELLO.txt remapped to "
      "Hello.txt\n",
      "<29>Dec  8 19:00:44 in.tftpd[10860]: RRQ from ::1 filename dir\\x.txt remapped to "
      "dir/x.txt\n",
      "<30>Dec  8 19:00:44 in.tftpd[10860]: sending NAK (1, File not found) to ::1",
      // A client that sent a request and went away before acknowledging the first block.
      "<29>Dec  8 19:00:44 in.tftpd[10908]: RRQ from ::1 filename Hello.txt\n",
      // Options refused by the client: the transfer goes on without them.
      "<29>Dec  8 19:00:47 in.tftpd[10964]: RRQ from ::1 filename Hello.txt\n",
      "<28>Dec  8 19:00:47 in.tftpd[10964]: tftp: client does not accept options\n",
      // A request in mode "mail": refused before in.tftpd logs the request.
      "<30>Dec  8 19:00:47 in.tftpd[10965]: sending NAK (4, Unknown mode) to ::1",
      "<28>Dec  8 19:00:50 in.tftpd[10908]: tftpd: read(ack): Connection refused",
  };
  EXPECT_EQ(Fold(second_run, srv),
            (std::vector<TransferEvent>{
                Event(1001, "::1", "up.txt", w, "received", false),
                Event(1002, "::1", "ro.txt", w, "access denied", true),
                Event(1004, "::1", "HELLO.txt", r, "sent", false),
                // The path looked up is the one after remapping.
                Event(1005, "::1", "dir\\x.txt", r, "not found", true, srv + "/dir/x.txt"),
                Event(1007, "::1", "Hello.txt", r, "read(ack): Connection refused", true),
                Event(1008, "::1", "Hello.txt", r, "sent", false),
                Event(1010, "::1", "", r, "unknown mode", true),
            }));
}

TEST(TransferLog, PathBelowStaysInTheFolderAndKeepsWhatDependsOnTheFiles) {
  const struct {
    std::string folder, file, path;
  } cases[] = {
      {"/srv/tftp", "a.bin", "/srv/tftp/a.bin"},
      {"/srv/tftp/", "//a//./b.bin", "/srv/tftp/a/b.bin"},
      {"/srv/tftp", "../../a", "/srv/tftp/a"},
      // "a/.." is the folder only when a exists: kept for the reader to see.
      {"/srv/tftp", "a/../b", "/srv/tftp/a/../b"},
      {"/srv/tftp", "a/../../../b", "/srv/tftp/a/../b"},
      {"/", "x/y", "/x/y"},
  };
  for (const auto& c : cases) EXPECT_EQ(PathBelow(c.folder, c.file), c.path) << c.file;
}

TEST(TransferLog, KeepsTheNewestEventsAndStillCompletesOpenOnes) {
  TransferLog log;
  const std::size_t total = TransferLog::kMostEvents + 10;
  for (std::size_t i = 0; i < total; ++i)
    log.Add(static_cast<std::int64_t>(i), 100000 + static_cast<pid_t>(i),
            "RRQ from 10.0.0.2 filename f" + std::to_string(i), "/srv");
  ASSERT_LE(log.events().size(), TransferLog::kMostEvents);
  EXPECT_EQ(log.events().back().file, "f" + std::to_string(total - 1));
  // The newest request's refusal still finds it after the older half went.
  log.Add(0, 100000 + static_cast<pid_t>(total - 1), "sending NAK (1, File not found) to 10.0.0.2",
          "/srv");
  EXPECT_EQ(log.events().back().result, "not found");
  EXPECT_EQ(log.events().back().asked_path, "/srv/f" + std::to_string(total - 1));
  // A line of a pid never seen with a request, and words that are no message of in.tftpd.
  const std::size_t before = log.events().size();
  log.Add(0, 7, "tftpd: read: Connection refused", "/srv");
  log.Add(0, 7, "RRQ from", "/srv");
  log.Add(0, 7, "sending NAK (x", "/srv");
  EXPECT_EQ(log.events().size(), before);
  // A file name that would steer a terminal or split a line reaches no display as such.
  log.Add(0, 8, "RRQ from 10.0.0.2 filename a\x1b[2J\nb\x7f", "/srv");
  EXPECT_EQ(log.events().back().file, "a?[2J?b?");
}

// --- in.tftpd for real -------------------------------------------------------------------

unsigned FreeUdpPort() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  unsigned port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

pid_t Spawn(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* no_env[] = {nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), no_env) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

bool Listening(unsigned port) {
  char want[32];
  std::snprintf(want, sizeof want, "0100007F:%04X", port);
  std::ifstream udp("/proc/net/udp");
  std::stringstream text;
  text << udp.rdbuf();
  return text.str().find(want) != std::string::npos;
}

// The child's exit statuses, and why each means the test cannot run here.
constexpr int kNoNamespace = 10, kNoMount = 11, kNoSocket = 12, kNoServer = 13;

// In a private mount namespace whose /dev is a tmpfs holding a datagram socket "log" of ours
// (and the real null, zero and random), starts in.tftpd -v -v -c on 127.0.0.1:port serving
// `folder`, runs each tftp command in turn and writes every datagram in.tftpd logged to `out`,
// each ended by a NUL. Runs in a forked child; returns its exit status.
int CaptureChild(const std::string& scratch, const std::string& folder, unsigned port,
                 const std::vector<std::vector<std::string>>& clients, int out) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
    return kNoNamespace;
  const std::string old_dev = scratch + "/dev";
  if (mkdir(old_dev.c_str(), 0755) != 0 ||
      mount("/dev", old_dev.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
      mount("capture", "/dev", "tmpfs", 0, "mode=0755") != 0)
    return kNoMount;
  for (const char* node : {"null", "zero", "random", "urandom"}) {
    const std::string target = std::string("/dev/") + node;
    const int fd = open(target.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return kNoMount;
    close(fd);
    if (mount((old_dev + "/" + node).c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
      return kNoMount;
  }
  const int log = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "/dev/log");
  if (log < 0 || bind(log, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      chmod("/dev/log", 0666) != 0)
    return kNoSocket;
  const pid_t server = Spawn({"/usr/sbin/in.tftpd", "-L", "-v", "-v", "-c", "-a",
                              "127.0.0.1:" + std::to_string(port), "-s", folder});
  if (server < 0) return kNoServer;
  for (int i = 0; i < 300 && !Listening(port); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (const auto& client : clients) {
    const pid_t pid = Spawn(client);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
  }
  std::string text;
  char buffer[2048];
  pollfd ready{log, POLLIN, 0};
  while (poll(&ready, 1, 300) == 1) {
    const ssize_t n = recv(log, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    text.push_back('\0');
  }
  kill(server, SIGTERM);
  int status = 0;
  waitpid(server, &status, 0);
  close(log);
  return write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1;
}

TEST(TransferLog, FoldsWhatTheRealServerLogsForTheRealClient) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root: a private mount namespace with a /dev/log of the test's own";
  for (const char* program : {"/usr/sbin/in.tftpd", "/usr/bin/tftp"})
    if (access(program, X_OK) != 0) GTEST_SKIP() << "needs " << program << " (tftpd-hpa, tftp-hpa)";
  test_support::ScratchFolder scratch("transfer-log");
  const std::string folder = scratch.File("srv");
  ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);  // in.tftpd runs as nobody: it may create here
  std::ofstream(folder + "/hello.txt") << "hello\n";
  std::ofstream(folder + "/secret.txt") << "secret\n";
  ASSERT_EQ(chmod((folder + "/secret.txt").c_str(), 0600), 0);
  std::ofstream(folder + "/ro.txt") << "keep\n";
  std::ofstream(scratch.File("up.txt")) << "up\n";
  const unsigned port = FreeUdpPort();
  ASSERT_NE(port, 0u);
  const std::string p = std::to_string(port);
  auto tftp = [&](const std::string& command, const std::string& remote, const std::string& local) {
    return std::vector<std::string>{"/usr/bin/tftp", "-m",   "octet", "127.0.0.1", p, "-c",
                                    command,         remote, local};
  };
  const std::vector<std::vector<std::string>> clients = {
      tftp("get", "hello.txt", scratch.File("got.txt")),
      tftp("get", "boot/pxelinux.0", scratch.File("pxe")),
      tftp("get", "secret.txt", scratch.File("secret")),
      tftp("put", scratch.File("up.txt"), "up.txt"),
      tftp("put", scratch.File("up.txt"), "ro.txt"),
  };
  int pipe_fds[2];
  ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(CaptureChild(scratch.path(), folder, port, clients, pipe_fds[1]));
  close(pipe_fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kNoNamespace || WEXITSTATUS(status) == kNoMount)
    GTEST_SKIP() << "cannot make a private mount namespace with a tmpfs over /dev here";
  ASSERT_EQ(WEXITSTATUS(status), 0) << "the capture failed (socket, server or pipe)";

  TransferLog log;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
    Datagram d;
    ASSERT_TRUE(ParseDatagram(text.substr(start, end - start), &d)) << text.substr(start);
    log.Add(1, d.pid, d.message, folder);
  }
  const Direction r = Direction::kRead, w = Direction::kWrite;
  EXPECT_EQ(log.events(), (std::vector<TransferEvent>{
                              Event(1, "127.0.0.1", "hello.txt", r, "sent", false),
                              Event(1, "127.0.0.1", "boot/pxelinux.0", r, "not found", true,
                                    folder + "/boot/pxelinux.0"),
                              Event(1, "127.0.0.1", "secret.txt", r, "access denied", true),
                              Event(1, "127.0.0.1", "up.txt", w, "received", false),
                              Event(1, "127.0.0.1", "ro.txt", w, "access denied", true),
                          }));
  // What the events say happened did happen.
  std::ifstream got(scratch.File("got.txt")), up(folder + "/up.txt"), ro(folder + "/ro.txt");
  std::stringstream got_text, up_text, ro_text;
  got_text << got.rdbuf();
  up_text << up.rdbuf();
  ro_text << ro.rdbuf();
  EXPECT_EQ(got_text.str(), "hello\n");
  EXPECT_EQ(up_text.str(), "up\n");
  EXPECT_EQ(ro_text.str(), "keep\n");
}

}  // namespace
}  // namespace tftpc
