#include "tests/desktop/ssh_sandbox.h"

#include <crypt.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

extern char** environ;

namespace desktop_testing {

using test_support::ReadFile;
using test_support::WriteFile;

namespace {

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

bool Mount(const char* source, const std::string& target, const char* type, unsigned long flags,
           std::string* error) {
  if (mount(source, target.c_str(), type, flags, nullptr) == 0) return true;
  *error = Errno("mount " + target);
  return false;
}

std::string PasswordHash(const std::string& password) {
  static const char kSaltChars[] =
      "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::random_device random;
  std::string setting = "$6$";
  for (int i = 0; i < 16; ++i) setting += kSaltChars[random() % 64];
  crypt_data data{};
  const char* hash = crypt_r(password.c_str(), setting.c_str(), &data);
  return hash != nullptr && hash[0] == '$' ? hash : "";
}

// Claims `uid` for this process while the returned socket is open: an abstract socket name is
// unique within a network namespace, here the machine's, so that parallel tests (ours or
// another developer's) never share a test user, whose processes they would take for their own.
int ClaimUid(uid_t uid) {
  int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string name = "qrb-ssh-sandbox-" + std::to_string(uid);
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (bind(sock, reinterpret_cast<sockaddr*>(&address), size) != 0) {
    close(sock);
    return -1;
  }
  return sock;
}

// The pids of the processes whose user is `uid`.
std::vector<pid_t> ProcessesOf(uid_t uid) {
  std::vector<pid_t> pids;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    struct stat st;
    if (stat(entry.path().c_str(), &st) == 0 && st.st_uid == uid) pids.push_back(std::stoi(name));
  }
  return pids;
}

}  // namespace

SshSandbox::SshSandbox() {
  if (geteuid() != 0) {
    skip_reason_ = "needs root: private namespaces, a test user and an SSH server";
    return;
  }
  for (const char* program : {"sshd", "ssh", "ssh-keygen", "gio", "ip"}) {
    if (FindProgram(program).empty()) {
      skip_reason_ = std::string(program) + " is not installed (openssh-server, libglib2.0-bin)";
      return;
    }
  }
  if (getpwnam(user_.c_str()) != nullptr) {
    skip_reason_ = "a user named " + user_ + " exists";
    return;
  }
  if (!ChooseUid() || !Enter() || !AddTestUser() || !StartServer() || !SetUpClient()) {
    if (error_.empty()) error_ = "setting up the SSH sandbox failed";
  }
}

bool SshSandbox::Enter() {
  old_mnt_ = open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
  old_net_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  old_cwd_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (old_mnt_ < 0 || old_net_ < 0 || old_cwd_ < 0) {
    error_ = Errno("saving the namespaces");
    return false;
  }
  if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
    error_ = Errno("unshare");
    close(old_mnt_);
    close(old_net_);
    old_mnt_ = old_net_ = -1;
    return false;
  }
  // Nothing mounted from here on reaches the machine's own view.
  return Mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, &error_) &&
         test_support::Run({FindProgram("ip"), "link", "set", "lo", "up"}).status == 0 &&
         Mount("tmpfs", "/run", "tmpfs", 0, &error_) && mkdir("/run/sshd", 0755) == 0 &&
         chmod(scratch_.path().c_str(), 0755) == 0;
}

bool SshSandbox::ChooseUid() {
  for (uid_t uid = 61000; uid < 62000; ++uid) {
    // A number nobody uses, not even a process of a user the database does not know.
    if (getpwuid(uid) != nullptr || getgrgid(uid) != nullptr) continue;
    int claim = ClaimUid(uid);
    if (claim < 0) continue;
    if (ProcessesOf(uid).empty()) {
      uid_ = uid;
      uid_claim_ = claim;
      return true;
    }
    close(claim);
  }
  error_ = "no free user id for the test user";
  return false;
}

bool SshSandbox::AddTestUser() {
  std::string hash = PasswordHash(password_);
  if (hash.empty()) return false;
  home_ = scratch_.File("home");
  std::string id = std::to_string(uid_);
  std::string passwd =
      ReadFile("/etc/passwd") + user_ + ":x:" + id + ":" + id + "::" + home_ + ":/bin/sh\n";
  std::string shadow = ReadFile("/etc/shadow") + user_ + ":" + hash + ":19000:0:99999:7:::\n";
  std::string group = ReadFile("/etc/group") + user_ + ":x:" + id + ":\n";
  const std::pair<std::string, std::string> files[] = {
      {"passwd", passwd}, {"shadow", shadow}, {"group", group}};
  for (const auto& [name, contents] : files) {
    std::string copy = scratch_.File("etc/" + name);
    if (!WriteFile(copy, contents) || chmod(copy.c_str(), name == "shadow" ? 0640 : 0644) != 0 ||
        !Mount(copy.c_str(), "/etc/" + name, nullptr, MS_BIND, &error_)) {
      if (error_.empty()) error_ = "writing " + copy;
      return false;
    }
  }
  if (mkdir(home_.c_str(), 0755) != 0 || chown(home_.c_str(), uid_, uid_) != 0) {
    error_ = Errno("making " + home_);
    return false;
  }
  return true;
}

bool SshSandbox::StartServer() {
  std::string key = scratch_.File("server/host_key");
  std::string config = scratch_.File("server/sshd_config");
  std::string settings = "ListenAddress 127.0.0.1:" + std::to_string(port_) + "\nHostKey " + key +
                         "\nPidFile none\nUsePAM no\nPasswordAuthentication yes\n"
                         "KbdInteractiveAuthentication no\nPubkeyAuthentication yes\n"
                         "AuthorizedKeysFile none\nPermitRootLogin no\nAllowUsers " +
                         user_ +
                         "\nX11Forwarding no\nLogLevel VERBOSE\n"
                         "PermitUserEnvironment XDG_DATA_HOME\n";
  std::vector<std::string> keygen = {
      FindProgram("ssh-keygen"), "-q", "-t", "ed25519", "-N", "", "-C", "", "-f", key};
  if (!WriteFile(config, settings) || test_support::Run(keygen).status != 0) {
    error_ = "making the server's host key";
    return false;
  }
  std::string sshd = FindProgram("sshd");
  std::string log = scratch_.File("server/sshd.log");
  std::vector<std::string> argv = {sshd, "-D", "-f", config, "-E", log};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  // The server dies with the test process, however that ends.
  server_ = fork();
  if (server_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    execve(sshd.c_str(), args.data(), environ);
    _exit(127);
  }
  if (server_ < 0) {
    error_ = Errno("starting sshd");
    return false;
  }
  // Ready once it says so; a probing connection would show in the log the tests read.
  for (int i = 0; i < 100; ++i) {
    if (ServerLog().find("Server listening on 127.0.0.1 port " + std::to_string(port_)) !=
        std::string::npos) {
      return true;
    }
    if (waitpid(server_, nullptr, WNOHANG) == server_) {
      server_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error_ = "sshd does not listen: " + ServerLog();
  return false;
}

bool SshSandbox::SetUpClient() {
  passwd* me = getpwuid(getuid());
  if (me == nullptr || me->pw_dir[0] != '/') return false;
  std::string caller_home = me->pw_dir;
  std::string ssh = caller_home + "/.ssh";
  known_hosts_ = ssh + "/known_hosts";
  std::string address = "[127.0.0.1]:" + std::to_string(port_);
  if (!Mount("tmpfs", caller_home, "tmpfs", 0, &error_)) return false;
  return mkdir(ssh.c_str(), 0700) == 0 &&
         WriteFile(ssh + "/config", "Host 127.0.0.1\n  Port " + std::to_string(port_) + "\n") &&
         WriteFile(known_hosts_, address + " " + ReadFile(scratch_.File("server/host_key.pub")));
}

bool SshSandbox::InstallDesktopEntry(const std::string& app_id, const std::string& exec) {
  return WriteUserFile(
      home_ + "/.local/share/applications/" + app_id + ".desktop",
      "[Desktop Entry]\nType=Application\nName=" + app_id + "\nExec=" + exec + "\n", false);
}

bool SshSandbox::WriteUserFile(const std::string& path, const std::string& contents,
                               bool executable) {
  if (!WriteFile(path, contents)) return false;
  // The folders made on the way belong to the user too.
  for (std::filesystem::path p = path; p.string().size() > home_.size(); p = p.parent_path()) {
    if (chown(p.c_str(), uid_, uid_) != 0) return false;
  }
  return chmod(path.c_str(), executable ? 0755 : 0644) == 0;
}

std::string SshSandbox::ServerLog() const {
  return ReadFile(scratch_.File("server/sshd.log"));
}

SshSandbox::~SshSandbox() {
  for (pid_t pid : uid_ != 0 ? ProcessesOf(uid_) : std::vector<pid_t>()) kill(pid, SIGKILL);
  if (server_ > 0) {
    kill(server_, SIGTERM);
    waitpid(server_, nullptr, 0);
  }
  if (old_mnt_ >= 0) {
    // Back to the machine's own view; the sandbox's namespaces go with their last process.
    if (setns(old_net_, CLONE_NEWNET) != 0 || setns(old_mnt_, CLONE_NEWNS) != 0) std::abort();
    close(old_net_);
    close(old_mnt_);
  }
  if (uid_claim_ >= 0) close(uid_claim_);
  if (old_cwd_ >= 0) {
    if (fchdir(old_cwd_) != 0) std::abort();
    close(old_cwd_);
  }
}

}  // namespace desktop_testing
