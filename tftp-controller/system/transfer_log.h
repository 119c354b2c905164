// in.tftpd's log lines (as tftpd-hpa writes them), folded into transfers. in.tftpd logs a
// request line at -v; the refusal that may follow ("sending NAK (1, File not found) to ...")
// only from -v -v on, and nothing at all when a transfer succeeds or a client goes silent.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tftpc {

enum class Direction { kRead, kWrite };

struct TransferEvent {
  std::int64_t time_usec = 0;  // realtime, microseconds
  std::string client;          // address
  std::string file;            // as the client asked
  Direction direction = Direction::kRead;
  std::string result;  // "sent", "not found", "access denied" (translated), else the server's words
  bool failed = false;
  std::string asked_path;  // folder + file for "not found": the exact path looked up
  bool operator==(const TransferEvent&) const = default;
};

// Folds one message of in.tftpd (its pid, its text) into the events seen so far: a request
// line starts an event, a later error line of the same pid completes it.
class TransferLog {
 public:
  // The most events kept; beyond it the older half is dropped.
  static constexpr std::size_t kMostEvents = 4096;

  void Add(std::int64_t time_usec, pid_t pid, std::string_view message, const std::string& folder);
  const std::vector<TransferEvent>& events() const;

 private:
  void Start(TransferEvent event, pid_t pid, std::string looked_up);
  void Fail(pid_t pid, std::string_view client, std::string result, bool not_found,
            const std::string& folder, std::int64_t time_usec);
  void Trim();

  std::vector<TransferEvent> events_;
  // The transfers a later line may still complete: the pid of the server child -> its
  // event's index, with the name it looked up (after remapping).
  struct Open {
    std::size_t index;
    std::string looked_up;
  };
  std::unordered_map<pid_t, Open> open_;
};

// The path the server looks up for `file` below `folder`: it serves from `folder` as its root,
// so neither a leading "/" nor ".." leaves it.
std::string PathBelow(const std::string& folder, std::string_view file);

}  // namespace tftpc
