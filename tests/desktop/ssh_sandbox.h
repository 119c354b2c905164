// A real OpenSSH server for tests, in a world of the test's own: the calling process enters
// private mount and network namespaces (left again at the end), where /etc/passwd, /etc/shadow
// and /etc/group are copies that hold a test user with a password, tmpfs folders lie over /run
// and over the caller's home (its ~/.ssh names the server's port and host key), and sshd
// listens on 127.0.0.1 at a high port with its own host key and configuration (a login takes
// XDG_DATA_HOME from the test user's ~/.ssh/environment). The machine's users, files and
// network are never touched. Needs root.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/desktop/desktop_testing.h"
#include "tests/test_support.h"

namespace desktop_testing {

class SshSandbox {
 public:
  SshSandbox();
  ~SshSandbox();
  SshSandbox(const SshSandbox&) = delete;
  SshSandbox& operator=(const SshSandbox&) = delete;

  // Why the sandbox cannot be had here (not root, a program missing); empty otherwise.
  const std::string& skip_reason() const { return skip_reason_; }
  // What went wrong while setting it up; empty once the server listens.
  const std::string& error() const { return error_; }

  const std::string& user() const { return user_; }
  uid_t uid() const { return uid_; }
  const std::string& password() const { return password_; }
  const std::string& home() const { return home_; }  // the test user's
  int port() const { return port_; }
  // The caller's known_hosts file, holding the server's key.
  const std::string& known_hosts() const { return known_hosts_; }
  // A scratch folder for the test, inside the sandbox.
  std::string Path(const std::string& name) const { return scratch_.File(name); }

  // Writes the desktop entry APP_ID.desktop into the test user's data home, running `exec`.
  bool InstallDesktopEntry(const std::string& app_id, const std::string& exec);
  // Writes a file of the test user's (mode 755 when executable, else 644).
  bool WriteUserFile(const std::string& path, const std::string& contents, bool executable);
  // The server's log so far.
  std::string ServerLog() const;

 private:
  bool ChooseUid();
  bool Enter();
  bool AddTestUser();
  bool StartServer();
  bool SetUpClient();

  test_support::TempDir scratch_;
  std::string skip_reason_, error_;
  std::string user_ = "qrbremote";
  uid_t uid_ = 0;
  std::string password_ = "open sesame 'n $(x)";
  std::string home_, known_hosts_;
  int port_ = 47022;
  int old_mnt_ = -1, old_net_ = -1, old_cwd_ = -1;
  pid_t server_ = -1;
  int uid_claim_ = -1;
};

}  // namespace desktop_testing
