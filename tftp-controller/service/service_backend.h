// service_backend.h — every change goes through configtool and xinetdtool
//
// Each program runs with administrator rights through the command runner
// (QRBShellCommand::launchAsRoot: directly as root, else through polkit). Neither tells its
// outcome by an exit status the runner hands back, so the outcome is judged by what each says
// and by what it did: configtool prints how many values it replaced, and the line is read back;
// xinetdtool logs one line per program it starts, with that program's words after "... ", and
// the service's port and processes are looked at afterwards.
//
// How the service stops. xinetd with `wait = yes` hands its UDP socket to the in.tftpd it starts,
// and in.tftpd serves on it until it has been idle for its -t time (900 s by default): stopping
// xinetd (xinetdtool --stop, a termination signal) leaves that in.tftpd answering on port 69,
// and a HUP after a change of server_args leaves it serving with the old arguments. But when
// xinetd rereads its configuration (HUP) and finds the service disabled, it ends the service's
// running server itself, closes the socket, and, left with no service at all, exits. So:
//   - Stop: `disable = yes`, then xinetdtool --restart when xinetd runs (never --stop, and never
//     a start of an xinetd that does not run); then it waits until no in.tftpd started by a
//     super-server is left. One that outlives the wait (an in.tftpd whose xinetd was stopped
//     earlier, which no HUP reaches) is named in the message, with when it ends by itself.
//   - Start: `disable = no`, then xinetdtool --restart (which starts xinetd when none runs);
//     then it waits until port 69 (the file's `port`) is held.
//   - Restart: Stop, then Start, so that the server answering afterwards is one started with
//     the file's current arguments.
#pragma once

#include <chrono>
#include <string>

#include "tftp-controller/service/server_options.h"

namespace tftpc {

struct BackendResult {
  bool ok = false;
  std::string
      message;  // the back end's own words (its standard error / output), never a bare number
};
struct BackendPaths {
  std::string configtool = "/usr/sbin/configtool";
  std::string xinetdtool = "/usr/sbin/xinetdtool";
  std::string service_file = "/etc/xinetd.d/tftp";
  // Added: where the outcome is looked for, and how long it may take to show.
  std::string xinetd_pid_file = "/var/run/xinetd.pid";
  std::string proc = "/proc";
  std::chrono::milliseconds settle{5000};
  // Unloads a job launchctl loaded; set-user-ID root, so it runs as the user.
  std::string launchdtool = "/usr/sbin/launchdtool";
};
class ServiceBackend {
 public:
  explicit ServiceBackend(BackendPaths paths = {});
  // Writes server_args (the words the file holds that the controller does not know are kept);
  // nothing is run when the line would stay the same. The running server keeps its arguments
  // until Restart.
  BackendResult ApplyOptions(const ServerOptions& options);  // configtool ... server_args
  // Each call below blocks until the outcome shows (at most `settle` beyond the programs' own
  // time, which includes the user's answer to the password dialog): call it off the UI thread.
  // disable = no, then xinetdtool --restart (which starts xinetd when none runs).
  BackendResult Start();
  BackendResult Restart();  // Stop, then Start (a HUP alone leaves the old server serving)
  BackendResult Stop();     // disable = yes and the server gone: nothing answers on port 69 after
  // launchdtool unload DEFINITION, as the user. ok: the program ran (whether the job is gone is
  // for the caller to see); the message is what it said, standard output then standard error.
  BackendResult UnloadLaunchdJob(const std::string& definition);
  const BackendPaths& paths() const;

 private:
  BackendResult SetDisable(bool disable);
  BackendPaths paths_;
};

}  // namespace tftpc
