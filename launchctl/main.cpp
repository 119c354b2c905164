// launchctl: hands launchd job definitions to systemd as units of its own.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "launchctl/commands.h"

namespace {

int Usage() {
  std::fputs(
      "usage: launchctl load [-w] FILE\n"
      "       launchctl unload [-w] FILE\n"
      "       launchctl list [LABEL]\n",
      stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Units are written 0644 whatever the caller's mask; nothing else of the caller is used.
  umask(022);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  if (args.empty()) return Usage();
  const std::string verb = args.front();
  args.erase(args.begin());
  if (verb == "list") {
    if (args.empty()) return launchctl::ListAll();
    if (args.size() == 1) return launchctl::List(args[0]);
    return Usage();
  }
  if (verb != "load" && verb != "unload") return Usage();
  bool persistent = false;
  if (!args.empty() && args[0] == "-w") {
    persistent = true;
    args.erase(args.begin());
  }
  if (!args.empty() && args[0] == "--") args.erase(args.begin());
  if (args.size() != 1 || args[0].empty()) return Usage();
  return verb == "load" ? launchctl::Load(args[0], persistent)
                        : launchctl::Unload(args[0], persistent);
}
