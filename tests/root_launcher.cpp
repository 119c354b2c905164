// root_launcher COUNT PROGRAM [ARG...] [--then PROGRAM [ARG...]]...
//
// Runs PROGRAM COUNT times with administrator rights through one command runner, as a
// long-lived controlling application would, and prints each launch's "cmdResult" and
// "cmdOutput" on a line of its own: "RESULT OUTPUT". With "--then", each round runs the
// programs in turn (a start, a change of the served folder, a stop).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "utility/qrb_shell_command.h"

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: root_launcher COUNT PROGRAM [ARG...] [--then PROGRAM [ARG...]]...\n");
    return 2;
  }
  const int count = std::atoi(argv[1]);
  std::vector<std::vector<std::string>> launches(1);
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--then") == 0)
      launches.emplace_back();
    else
      launches.back().push_back(argv[i]);
  }
  for (const std::vector<std::string>& launch : launches) {
    if (launch.empty()) return 2;
  }
  std::unique_ptr<QRBShellCommand> runner = QRBShellCommand::Create();
  if (!runner) return 3;
  for (int i = 0; i < count; ++i) {
    for (const std::vector<std::string>& launch : launches) {
      platform::Dictionary result = runner->launchAsRoot(
          launch[0], std::vector<std::string>(launch.begin() + 1, launch.end()));
      const std::string* output = result.StringFor(commandOutputKey);
      std::printf("%lld %s\n",
                  static_cast<long long>(result.IntegerFor(commandResultKey).value_or(999)),
                  output ? output->c_str() : "<none>");
      std::fflush(stdout);
    }
  }
  return 0;
}
