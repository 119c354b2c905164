#include "tests/desktop/desktop_testing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/test_support.h"

extern char** environ;

namespace desktop_testing {

std::string FindProgram(const std::string& name) {
  for (const char* folder : {"/usr/bin", "/bin", "/usr/sbin", "/sbin"}) {
    std::string path = std::string(folder) + "/" + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return "";
}

std::string InfoPlist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n" +
         body + "</dict>\n</plist>\n";
}

bool CompileCatalog(const std::string& folder, const std::string& language,
                    const std::string& domain, const std::string& po) {
  std::string msgfmt = FindProgram("msgfmt");
  if (msgfmt.empty()) return false;
  std::string source = folder + "/" + domain + "." + language + ".po";
  std::string target = folder + "/locale/" + language + "/LC_MESSAGES/" + domain + ".mo";
  std::string header =
      "msgid \"\"\nmsgstr \"\"\n"
      "\"Project-Id-Version: tests\\n\"\n"
      "\"PO-Revision-Date: 2026-01-01 00:00+0000\\n\"\n"
      "\"Last-Translator: tests\\n\"\n\"Language-Team: tests\\n\"\n"
      "\"Language: " +
      language +
      "\\n\"\n\"MIME-Version: 1.0\\n\"\n"
      "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
      "\"Content-Transfer-Encoding: 8bit\\n\"\n\n";
  if (!test_support::WriteFile(source, header + po) || !test_support::WriteFile(target, ""))
    return false;
  bool ok = test_support::Run({msgfmt, "--check", "-o", target, source}).status == 0;
  unlink(source.c_str());
  return ok;
}

}  // namespace desktop_testing

namespace desktop_testing {

std::unique_ptr<XServer> XServer::Start(std::string* why_not) {
  std::string xvfb = FindProgram("Xvfb");
  if (xvfb.empty()) {
    *why_not = "Xvfb is not installed (Debian package xvfb)";
    return nullptr;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *why_not = "no pipe";
    return nullptr;
  }
  // Xvfb writes the display number it chose to descriptor 9.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 9);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {xvfb,       "-displayfd", "9", "-nolisten", "tcp",
                                   "-noreset", "-screen",    "0", "800x600x24"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  int spawned = posix_spawn(&pid, xvfb.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (spawned != 0) {
    close(fds[0]);
    *why_not = "Xvfb could not be started";
    return nullptr;
  }
  std::unique_ptr<XServer> server(new XServer(pid, ""));
  std::string number;
  struct pollfd waiting = {fds[0], POLLIN, 0};
  while (number.find('\n') == std::string::npos && poll(&waiting, 1, 10000) > 0) {
    char buffer[32];
    ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  if (number.empty() || number.find('\n') == std::string::npos) {
    *why_not = "Xvfb did not start";
    return nullptr;
  }
  server->display_ = ":" + number.substr(0, number.find('\n'));
  return server;
}

XServer::~XServer() {
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

pid_t StartLaunchedSleeper(const std::string& desktop_file, int pid_offset) {
  int exec_done[2];
  if (pipe2(exec_done, O_CLOEXEC) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    std::string file = "GIO_LAUNCHED_DESKTOP_FILE=" + desktop_file;
    std::string launched = "GIO_LAUNCHED_DESKTOP_FILE_PID=" + std::to_string(getpid() + pid_offset);
    char* env[] = {file.data(), launched.data(), nullptr};
    char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("60"), nullptr};
    execve("/bin/sleep", argv, env);
    _exit(127);
  }
  close(exec_done[1]);
  char byte;
  // The pipe closes at the exec: the environment is then the program's.
  if (pid > 0 && read(exec_done[0], &byte, 1) != 0) pid = -1;
  close(exec_done[0]);
  return pid;
}

bool WaitFor(const std::function<bool()>& condition, double seconds) {
  for (int i = 0; i < seconds * 50; ++i) {
    if (condition()) return true;
    usleep(20000);
  }
  return condition();
}

}  // namespace desktop_testing
