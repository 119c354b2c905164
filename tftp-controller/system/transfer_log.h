// in.tftpd's log lines (as tftpd-hpa writes them with -v), folded into transfers.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tftpc {

enum class Direction { kRead, kWrite };

struct TransferEvent {
  std::int64_t time_usec = 0;  // realtime, microseconds
  std::string client;          // address
  std::string file;            // as the client asked
  Direction direction = Direction::kRead;
  std::string result;  // "sent", "not found", "access denied", the server's words...
  bool failed = false;
  std::string asked_path;  // folder + file for "not found": the exact path looked up
};

// Folds one message of in.tftpd (its pid, its text) into the events seen so far: a request
// line starts an event, a later error line of the same pid completes it.
class TransferLog {
 public:
  void Add(std::int64_t time_usec, pid_t pid, std::string_view message, const std::string& folder);
  const std::vector<TransferEvent>& events() const;

 private:
  std::vector<TransferEvent> events_;
};

}  // namespace tftpc
