#include "launchctl/systemctl.h"

#include <sys/wait.h>
#include <unistd.h>

#include "platform/process/subprocess.h"

namespace launchctl {

std::optional<Systemctl> Systemctl::Find(std::string* err) {
  for (const char* path : kSystemctlPaths)
    if (access(path, X_OK) == 0) return Systemctl(path);
  *err = "systemctl not found in /usr/bin or /bin: systemd is not installed";
  return std::nullopt;
}

bool Systemctl::Run(const std::vector<std::string>& args, std::string* out,
                    std::string* err) const {
  std::vector<std::string> argv = {"systemctl", "--no-pager", "--no-ask-password"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string why;
  platform::OwnedFd out_read, out_write, err_read, err_write;
  if (!platform::MakePipe(&out_read, &out_write, &why) ||
      !platform::MakePipe(&err_read, &err_write, &why)) {
    *err = why;
    return false;
  }
  std::optional<platform::ChildProcess> child =
      platform::Spawn(path_, argv, platform::kNullDevice, out_write.get(), err_write.get(), &why);
  if (!child) {
    *err = why;
    return false;
  }
  out_write.Reset();
  err_write.Reset();
  std::string output, error;
  platform::StreamExchange exchange;
  exchange.end_input = [] {};
  exchange.output_fd = out_read.get();
  exchange.output = &output;
  exchange.error_fd = err_read.get();
  exchange.error = &error;
  const bool exchanged = platform::ExchangeWithChild(exchange, &why);
  out_read.Reset();
  err_read.Reset();
  const int status = child->Wait();
  if (out != nullptr) *out = output;
  if (!exchanged) {
    *err = why;
    return false;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  while (!error.empty() && error.back() == '\n') error.pop_back();
  *err = !error.empty()      ? error
         : WIFEXITED(status) ? "systemctl " + args.front() + " ended with status " +
                                   std::to_string(WEXITSTATUS(status))
                             : "systemctl " + args.front() + " was killed";
  return false;
}

bool Systemctl::Start(const std::vector<std::string>& units, std::string* err) const {
  if (units.empty()) return true;
  std::vector<std::string> args = {"start"};
  args.insert(args.end(), units.begin(), units.end());
  if (Run(args, nullptr, err)) return true;
  // systemctl names the unit that failed; systemd's own account of why is its Result and the
  // status of the program it ran.
  for (const std::string& unit : units) {
    std::map<std::string, std::string> p =
        Show(unit, {"ActiveState", "Result", "ExecMainStatus", "StatusText"});
    if (p["ActiveState"] == "active") continue;
    *err += "\n" + unit + ": " + p["ActiveState"] + ", result " + p["Result"];
    if (!p["ExecMainStatus"].empty() && p["ExecMainStatus"] != "0")
      *err += ", exit status " + p["ExecMainStatus"];
  }
  return false;
}

std::map<std::string, std::string> Systemctl::Show(
    const std::string& unit, const std::vector<std::string>& properties) const {
  std::vector<std::string> args = {"show"};
  for (const std::string& p : properties) args.push_back("--property=" + p);
  args.push_back("--");
  args.push_back(unit);
  std::string out, err;
  std::map<std::string, std::string> values;
  if (!Run(args, &out, &err)) return values;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return values;
}

}  // namespace launchctl
