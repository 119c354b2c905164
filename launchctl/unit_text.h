// Writing values into systemd unit files so that systemd reads back exactly what was meant.
#pragma once

#include <string>
#include <string_view>

namespace launchctl {

// The label as a unit name prefix, escaped as systemd escapes a string for a unit name: "/"
// becomes "-", a leading "." and every byte outside [A-Za-z0-9:_.] become "\xNN".
std::string EscapeUnitName(std::string_view label);

// True when the text holds a control character (a newline among them): no unit file setting
// can carry one.
bool HasControlCharacter(std::string_view s);

// A value of a setting that systemd takes as it stands apart from its specifiers: "%" doubled.
std::string Specifiers(std::string_view s);

// One word of a setting that systemd splits into quoted words (Environment=): double-quoted,
// with "\" and "\"" escaped by a backslash and "%" doubled.
std::string QuotedWord(std::string_view s);

// One word of a command line (ExecStart=): a quoted word, with "$" doubled as well, since
// systemd expands variables in commands when it runs them.
std::string CommandWord(std::string_view s);

}  // namespace launchctl
