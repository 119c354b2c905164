// configtool configFile [paramName newValue oldValue|keyName newValue]
//
// Edits one configuration file of the TFTP service and exits: with a key name alone it turns
// the TFTP daemon's insecure mode off, with a key name and a value it sets that key in a
// property list, with a parameter name and two values it edits a line of a text file.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "configtool/config_edits.h"
#include "configtool/grant_rules.h"
#include "platform/text/utf8.h"

namespace {

void Print(std::FILE* stream, const std::string& text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

int main(int argc, char* argv[]) {
  // A file-size limit the caller set (ulimit -f) must fail the write with EFBIG, which is
  // reported and leaves the file whole, rather than kill the run with SIGXFSZ.
  signal(SIGXFSZ, SIG_IGN);
  if (argc < 3 || argc > 5) {
    // Without an invocation name (an empty argument vector reaches us as argc 0, or with a
    // newer kernel as one empty argument) the usage names the program itself.
    const char* name =
        argc > 0 && argv[0] != nullptr && argv[0][0] != '\0' ? argv[0] : "configtool";
    std::fprintf(stderr, "Usage: %s configFile [paramName newValue oldValue|keyName newValue]\n",
                 name);
    return 1;
  }
  // Root for an ordinary user (through pkexec): only the TFTP service's own files and the
  // parameters the controller changes, asked before anything is opened, so that nothing about
  // another file, not even whether it exists, is told.
  configtool::forGrantedUser =
      configtool::RunsForGrantedUser(getuid(), geteuid(), std::getenv("PKEXEC_UID"));
  if (configtool::forGrantedUser) {
    const std::string why = configtool::CheckRequest(argv[1], argc, argv[2]);
    if (!why.empty()) {
      std::fprintf(stderr, "configtool: refused: %s\n", why.c_str());
      return 1;
    }
  }
  // Only a test that the file exists and could be read, made without opening it: opening what
  // the name denotes now (a device a link was turned to) can act by itself. The file is opened
  // once, step by step, when it is edited.
  if (faccessat(AT_FDCWD, argv[1], R_OK, AT_EACCESS) != 0) {
    std::fprintf(stderr, "File not found: %s\n", argv[1]);
    return 1;
  }
  // The values go into UTF-8 text and property lists; bytes that are not UTF-8 would spoil them.
  static const char* const kNames[] = {nullptr, nullptr, "paramName", "newValue", "oldValue"};
  for (int i = 2; i < argc; ++i) {
    if (!platform::IsValidUtf8(argv[i])) {
      std::fprintf(stderr, "configtool: %s is not valid UTF-8\n", kNames[i]);
      return 1;
    }
  }

  configtool::EditResult result;
  try {
    configFile = argv[1];
    paramName = argv[2];
    if (argc == 3) {
      result = FixInsecureMode();
    } else {
      newValue = argv[3];
      if (argc == 4) {
        result = ChangeDictFile();
      } else {
        oldValue = argv[4];
        result = ChangeTextFile();
      }
    }
  } catch (const std::exception& e) {
    // Memory ran out (a huge file, or a value that multiplies it); nothing was written.
    result = {"", std::string("configtool: ") + e.what() + "; the file is left unchanged\n", 1};
  }
  Print(stdout, result.out);
  Print(stderr, result.err);
  std::fflush(stdout);
  return result.status;
}
