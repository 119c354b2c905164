// xinetdtool --start | --restart | --stop: starts, restarts or stops the xinetd super-server with
// administrator rights. Exit status 0 once an operation ran, 1 on a usage error.
#include <cstdio>
#include <cstring>

#include "xinetdtool/xinetd_control.h"

namespace {

// Without a program name (no arguments at all, or an empty first one) the usage names the tool.
int Usage(const char* program) {
  if (program == nullptr || *program == '\0') program = "xinetdtool";
  std::fprintf(stderr, "Usage: %s --[start|restart|stop]\n", program);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  const char* program = argc > 0 ? argv[0] : nullptr;
  if (argc != 2) return Usage(program);
  const char* option = argv[1];
  void (*operation)() = nullptr;
  if (std::strcmp(option, "--start") == 0)
    operation = StartXinetd;
  else if (std::strcmp(option, "--restart") == 0)
    operation = RestartXinetd;
  else if (std::strcmp(option, "--stop") == 0)
    operation = StopXinetd;
  else
    return Usage(program);
  shellCommand = QRBShellCommand::Create();
  operation();
  shellCommand.reset();
  return 0;
}
