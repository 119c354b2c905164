// For unit tests: a message bus of the test's own (dbus-daemon on a socket in a scratch folder)
// with polkit_stub (tests/polkit_stub.cpp) on it as polkitd, answering every check with one
// answer and writing down what it is asked. A process that sets DBUS_SYSTEM_BUS_ADDRESS to
// address() asks the stub; any user may connect.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>

#include "platform/process/subprocess.h"
#include "tests/scratch_folder.h"

namespace test_support {

class StubPolkit {
 public:
  // Whether the bus can be had here; else the reason a test skips.
  static std::optional<std::string> Missing() {
    if (access(kDaemon, X_OK) != 0) return std::string(kDaemon);
    if (access(POLKIT_STUB_PATH, X_OK) != 0) return std::string(POLKIT_STUB_PATH);
    return std::nullopt;
  }

  // `answer`: yes, no, challenge, dismissed, silent, mute or dead (see polkit_stub.cpp).
  explicit StubPolkit(const std::string& answer) : folder_("polkit-stub") {
    chmod(folder_.path().c_str(), 0755);
    const std::string socket = folder_.File("bus");
    const std::string config = folder_.File("bus.conf");
    std::ofstream(config) << "<busconfig><type>stub</type><listen>unix:path=" << socket
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow user=\"*\"/><allow own=\"*\"/><allow send_type=\"*\"/>"
                             "<allow receive_type=\"*\"/></policy></busconfig>\n";
    platform::OwnedFd read_end, write_end;
    if (!platform::MakePipe(&read_end, &write_end, nullptr)) return;
    bus_ = platform::Spawn(
        kDaemon,
        {kDaemon, "--config-file=" + config, "--nofork", "--nopidfile", "--print-address=1"},
        platform::kNullDevice, write_end.get(), platform::kNullDevice, nullptr);
    write_end.Reset();
    std::string printed;
    if (!bus_ || !ReadLine(read_end.get(), &printed, &address_)) return;
    chmod(socket.c_str(), 0777);

    platform::OwnedFd in_read, out_write;
    if (!platform::MakePipe(&in_read, &stub_input_, nullptr) ||
        !platform::MakePipe(&stub_output_, &out_write, nullptr))
      return;
    stub_ = platform::Spawn(POLKIT_STUB_PATH, {POLKIT_STUB_PATH, address_, answer}, in_read.get(),
                            out_write.get(), platform::kInheritStream, nullptr);
    out_write.Reset();
    std::string ready;
    ready_ = stub_ && ReadLine(stub_output_.get(), &pending_, &ready) && ready == "ready";
  }
  ~StubPolkit() {
    stub_input_.Reset();
    if (stub_) kill(stub_->pid(), SIGTERM);
    if (bus_) kill(bus_->pid(), SIGTERM);
  }
  StubPolkit(const StubPolkit&) = delete;
  StubPolkit& operator=(const StubPolkit&) = delete;

  bool ready() const { return ready_; }
  const std::string& address() const { return address_; }

  // Ends the stub; what it was asked, a line per question. "cancel" lines are left out: the
  // client sends them as it gives up, and may be gone before they leave.
  std::string Questions() {
    stub_input_.Reset();
    std::string all = pending_, line;
    while (ReadLine(stub_output_.get(), &all, &line))
      if (line != "cancel") pending_questions_ += line + "\n";
    pending_.clear();
    return pending_questions_;
  }

 private:
  static constexpr const char* kDaemon = "/usr/bin/dbus-daemon";

  // The next line from `fd` (buffered in *buffer), waiting at most 10 seconds for each piece.
  static bool ReadLine(int fd, std::string* buffer, std::string* line) {
    for (;;) {
      const std::size_t end = buffer->find('\n');
      if (end != std::string::npos) {
        *line = buffer->substr(0, end);
        buffer->erase(0, end + 1);
        return true;
      }
      pollfd p = {fd, POLLIN, 0};
      char chunk[256];
      if (poll(&p, 1, 10000) != 1) return false;
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n <= 0) return false;
      buffer->append(chunk, n);
    }
  }

  ScratchFolder folder_;
  std::optional<platform::ChildProcess> bus_;
  std::optional<platform::ChildProcess> stub_;
  platform::OwnedFd stub_input_, stub_output_;
  std::string address_, pending_, pending_questions_;
  bool ready_ = false;
};

}  // namespace test_support
