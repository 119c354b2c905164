// The cost of one status refresh of the controller, which its window makes every second: the
// service file, xinetd's pid file and the holders of the service's port read from /proc. With
// the port free only the socket tables are read; with a socket on it (one of the benchmark's own,
// so a program of no server's name) the processes are listed and the holder is found again.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tftp-controller/checks/service_status.h"

namespace {

// A free UDP port of 127.0.0.1, and a socket bound to it while `hold` says so.
struct Port {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  unsigned number = 0;
  explicit Port(bool hold) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    number = ntohs(a.sin_port);
    if (!hold) ::close(fd), fd = -1;
  }
  ~Port() {
    if (fd >= 0) ::close(fd);
  }
};

void Refresh(benchmark::State& state, bool held) {
  Port port(held);
  char folder[] = "/tmp/bench-status.XXXXXX";
  if (!::mkdtemp(folder)) {
    state.SkipWithError("no scratch folder");
    return;
  }
  tftpc::StatusSources sources{"/proc", std::string(folder) + "/xinetd.pid",
                               std::string(folder) + "/tftp"};
  std::ofstream(sources.service_file)
      << "service tftp\n{\n\tsocket_type = dgram\n\tprotocol = udp\n\twait = yes\n"
      << "\tuser = root\n\ttype = UNLISTED\n\tport = " << port.number
      << "\n\tserver = /usr/sbin/in.tftpd\n\tserver_args = -v -s /srv/tftp\n\tdisable = no\n}\n";
  std::ofstream(sources.pid_file) << "1\n";
  for (auto _ : state) {
    tftpc::ServiceStatus status = tftpc::ReadServiceStatus(sources);
    benchmark::DoNotOptimize(status);
  }
  std::remove(sources.service_file.c_str());
  std::remove(sources.pid_file.c_str());
  ::rmdir(folder);
}

void BM_StatusPortFree(benchmark::State& state) {
  Refresh(state, false);
}
void BM_StatusPortHeld(benchmark::State& state) {
  Refresh(state, true);
}
BENCHMARK(BM_StatusPortFree)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatusPortHeld)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
