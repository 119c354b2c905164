// Runs a program as the calling user or with administrator rights and hands back one result
// dictionary: "cmdOutput", "cmdError" and "cmdResult".
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/plist/value.h"
#include "platform/process/authorization.h"

extern const char* const commandOutputKey;  // "cmdOutput"
extern const char* const commandErrorKey;   // "cmdError"
extern const char* const commandResultKey;  // "cmdResult"

class QRBShellCommand {
 public:
  // The one shared instance, made on first request and kept for the process's life.
  static QRBShellCommand* sharedShellCommand();

  // A new runner, or null when no authorization reference could be had.
  static std::unique_ptr<QRBShellCommand> Create();
  ~QRBShellCommand();
  QRBShellCommand(const QRBShellCommand&) = delete;
  QRBShellCommand& operator=(const QRBShellCommand&) = delete;

  // As the calling user, `path` executed as given (no search of PATH, no shell). Input, when
  // given, is written to the child's standard input while its output and error are read; the
  // input is then closed (at once when there is none) and the child is reaped. "cmdOutput" and
  // "cmdError" hold the child's bytes exactly; "cmdResult" is 0 whatever the child's exit status,
  // or -1 when the program cannot be started ("cmdError" then names the path and the reason).
  platform::Dictionary launch(const std::string& path, const std::vector<std::string>& args = {},
                              const std::optional<std::string>& stdInput = std::nullopt);

  // With administrator rights, through the authorization calls: silently when this runner holds
  // the right already, else asking the user. The child's standard input and output are one
  // stream: the input is written, then ended, and everything is read to the end of the stream;
  // the child is reaped. "cmdResult" 0 ("cmdOutput" the bytes read), -1 when the program cannot
  // be started, -2 when the right is refused (messages in "cmdOutput", no "cmdError"; when
  // polkit made no decision, because it is not installed, not running or silent past its time,
  // the message ends in ": " and the reason). A silent polkit is asked once, not again with a
  // dialog.
  platform::Dictionary launchAsRoot(const std::string& path,
                                    const std::vector<std::string>& args = {},
                                    const std::optional<std::string>& stdInput = std::nullopt);

  // True when the right to run `path` as administrator is granted; action 1, 2 or other
  // chooses how much the user may be asked.
  bool authAgent(const std::string& path, int action);

 private:
  QRBShellCommand() = default;
  AuthorizationRef execAuthorizationRef = nullptr;
};
