// What configtool may do when it runs as root for an ordinary user, whom polkit let run it
// through pkexec: edit the TFTP service's own files only (the xinetd service file and the job
// definition the package installs), only the parameters the controller changes, and only into
// a server command line that keeps the server's user and the files it reads. Each check gives
// an empty string when the request or its result is allowed, else the reason it is not.
#pragma once

#include <sys/types.h>

#include <span>
#include <string>
#include <string_view>

#include "platform/plist/value.h"

namespace configtool {

// The files a granted user may edit, compared with the path exactly as given.
constexpr char kServiceFile[] = "/etc/xinetd.d/tftp";
constexpr char kJobDefinition[] = "/etc/qrb-tftp-controller/tftp.plist";
// The TFTP server the job definition must start.
constexpr char kTftpServer[] = "/usr/sbin/in.tftpd";
// The one file of name-mapping rules the server may be given (in.tftpd -m), installed by the
// package; compared exactly as given.
constexpr char kRulesFile[] = "/usr/share/qrb-tftp-controller/tftpd.remap";

// Set by main before an edit; when true the edits check their results below before writing.
extern bool forGrantedUser;

// Whether a run is one for another user than root: effective user root, and either a real
// user other than root (a set-user-ID install) or a PKEXEC_UID (`pkexec_uid`, null when unset)
// other than exactly "0". pkexec always sets it; a value that names no number counts as a user.
bool RunsForGrantedUser(uid_t real, uid_t effective, const char* pkexec_uid);

// The request itself, before any file is opened: `argument_count` counts the program name (3,
// 4 or 5). The text edit only on kServiceFile with "server_args" or "disable"; the property-list
// edits only on kJobDefinition with "ProgramArguments".
std::string CheckRequest(std::string_view path, int argument_count, std::string_view name);

// The line a text edit of parameter `name` produced, with its terminator; `at_end` when nothing
// follows it in the file. It must be one line, `name = VALUE` (blanks around the words):
// "disable" takes yes or no, "server_args" the server's arguments (CheckServerArguments).
std::string CheckEditedLine(std::string_view name, std::string_view line, bool at_end);

// The value under "ProgramArguments" after a property-list edit: an array of strings, the first
// kTftpServer, the rest the server's arguments (CheckServerArguments).
std::string CheckProgramArguments(const platform::Value& value);

// The server's arguments: options of in.tftpd from a fixed list (never one that changes its
// user or names a file it reads or writes, but for kRulesFile; -a only with a literal address),
// then one served folder, an absolute path that names an existing folder. `in_text_file`: the words
// come from an xinetd line, which cannot quote.
std::string CheckServerArguments(std::span<const std::string> words, bool in_text_file);

}  // namespace configtool
