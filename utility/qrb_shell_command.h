// Runs a program as the calling user or with administrator rights and hands back one result
// dictionary: "cmdOutput", "cmdError" and "cmdResult".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/authorization.h"
#include "platform/plist_value.h"

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

  // As the calling user. Input, when given, is written to the child's standard input, which is
  // then closed (at once when there is none).
  platform::Dictionary launch(const std::string& path, const std::vector<std::string>& args = {},
                              const std::optional<std::string>& stdInput = std::nullopt);

  // With administrator rights, through the authorization calls.
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
