// root_launcher COUNT PROGRAM [ARG...]
//
// Runs PROGRAM COUNT times with administrator rights through one command runner, as a
// long-lived controlling application would, and prints each launch's "cmdResult" and
// "cmdOutput" on a line of its own: "RESULT OUTPUT".
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "utility/qrb_shell_command.h"

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: root_launcher COUNT PROGRAM [ARG...]\n");
    return 2;
  }
  const int count = std::atoi(argv[1]);
  std::vector<std::string> args(argv + 3, argv + argc);
  std::unique_ptr<QRBShellCommand> runner = QRBShellCommand::Create();
  if (!runner) return 3;
  for (int i = 0; i < count; ++i) {
    platform::Dictionary result = runner->launchAsRoot(argv[2], args);
    const std::string* output = result.StringFor(commandOutputKey);
    std::printf("%lld %s\n",
                static_cast<long long>(result.IntegerFor(commandResultKey).value_or(999)),
                output ? output->c_str() : "<none>");
    std::fflush(stdout);
  }
  return 0;
}
