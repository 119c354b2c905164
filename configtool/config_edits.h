// The three edits configtool makes to a configuration file of the TFTP service. Each reads the
// process-wide strings below, works on the file named by `configFile` and returns what the
// program prints; only main prints.
#pragma once

#include <string>

// Set once by main from the command line. `newValue` and `oldValue` stay empty when their
// arguments are absent; the operations store the value they find in the file in `oldValue`.
extern std::string configFile;
extern std::string paramName;
extern std::string newValue;
extern std::string oldValue;

namespace configtool {

struct EditResult {
  std::string out;  // for standard output, no trailing newline
  std::string err;  // for standard error: empty, or one line ending in a newline
  int status = 0;   // the program's exit status
};

}  // namespace configtool

// In the text file, on the line that holds the first occurrence of `paramName`, replaces every
// occurrence of `oldValue` by `newValue`. Prints the number of replacements.
configtool::EditResult ChangeTextFile();

// In the property list, sets the string under the key `paramName` to `newValue`, or the last
// element of the array under it. Prints 1 if the file was changed, else 0.
configtool::EditResult ChangeDictFile();

// In the property list, replaces "-i" in the argument array under the key `paramName` by "-s".
// Prints "Fixed tftpd insecure mode" if the file was changed, else nothing.
configtool::EditResult FixInsecureMode();
