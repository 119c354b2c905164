// Stands in for the xinetd super-server in xinetdtool's tests. It records how it was started
// ("NAME start uid=R euid=E [arg]...") and each hang-up and termination signal it gets
// ("NAME HUP", "NAME TERM") in /run/sandbox/record, prints one line without a newline (the
// launch's output), and leaves a server running in the background, as xinetd does. The
// server's pid goes into the file given with "-pidfile FILE", or to standard output without
// one. The server's name (its comm) is the name this program was run by, and it runs this
// program's own file: a compiled program, so that its executable is what it was started as.
//
// As xinetd may, it can be slow: while /run/sandbox/slow exists it returns at once, its server
// writes the pid file half a second later, and ends half a second after a termination signal.
// While /run/sandbox/mute exists its server writes no pid file at all.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kRecord[] = "/run/sandbox/record";
int record_fd = -1;
std::string hup_line, term_line;

void Append(const std::string& line) {
  if (record_fd >= 0) (void)!write(record_fd, line.data(), line.size());
}

void OnHangUp(int) {
  (void)!write(record_fd, hup_line.data(), hup_line.size());
}

bool slow = false;

void Pause() {
  const struct timespec half = {0, 500000000};
  nanosleep(&half, nullptr);
}

void OnTerminate(int) {
  (void)!write(record_fd, term_line.data(), term_line.size());
  if (slow) Pause();
  _exit(0);
}

}  // namespace

int main(int argc, char* argv[]) {
  const char* slash = std::strrchr(argv[0], '/');
  const std::string name = slash ? slash + 1 : argv[0];
  record_fd = open(kRecord, O_WRONLY | O_APPEND | O_CLOEXEC);
  std::string line =
      name + " start uid=" + std::to_string(getuid()) + " euid=" + std::to_string(geteuid());
  for (int i = 1; i < argc; ++i) line += std::string(" [") + argv[i] + "]";
  Append(line + "\n");
  hup_line = name + " HUP\n";
  term_line = name + " TERM\n";

  slow = access("/run/sandbox/slow", F_OK) == 0;
  const bool mute = access("/run/sandbox/mute", F_OK) == 0;
  const bool given = argc == 3 && std::strcmp(argv[1], "-pidfile") == 0;
  const std::string pidfile = given ? argv[2] : "/run/sandbox/ready." + std::to_string(getpid());
  unlink(pidfile.c_str());
  pid_t server = fork();
  if (server < 0) return 1;
  if (server == 0) {
    signal(SIGHUP, OnHangUp);
    signal(SIGTERM, OnTerminate);
    int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
    if (null > 2) close(null);
    if (slow) Pause();
    const std::string pid = std::to_string(getpid()) + "\n";
    const std::string fresh = pidfile + ".new";
    int fd = mute ? -1 : open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
      (void)!write(fd, pid.data(), pid.size());
      close(fd);
      rename(fresh.c_str(), pidfile.c_str());
    }
    for (;;) pause();
  }
  // Wait (at most 10 seconds) until the server has written its pid.
  for (int i = 0; i < 500 && !slow && !mute && access(pidfile.c_str(), F_OK) != 0; ++i)
    usleep(20000);
  if (given) {
    std::printf("%s stand-in started", name.c_str());
  } else {
    std::printf("%d\n", server);
    unlink(pidfile.c_str());
  }
  return 0;
}
