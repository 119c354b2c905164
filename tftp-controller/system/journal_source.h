// in.tftpd's lines read from the systemd journal (sd-journal), from the moment it is opened on.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tftp-controller/system/transfer_source.h"

struct sd_journal;

namespace tftpc {

class JournalSource : public TransferSource {
 public:
  // The local system journal, positioned at its end. nullptr with *err when it cannot be
  // opened or holds no file this user may read (the journal is then there, but not for them).
  static std::unique_ptr<JournalSource> Open(std::string* err);
  // Open's *err when the journal is there but none of the system's files may be read.
  static const char* NotReadable();
  // The journal of the system whose root folder is `root` (a container's, as /proc/PID/root),
  // positioned at its end.
  static std::unique_ptr<JournalSource> OpenOsTree(const std::string& root, std::string* err);
  ~JournalSource() override;
  JournalSource(const JournalSource&) = delete;
  JournalSource& operator=(const JournalSource&) = delete;

  int fd() const override { return fd_; }
  std::vector<LogLine> ReadNew() override;
  std::string Describe() const override;

 private:
  JournalSource(sd_journal* journal, int fd) : journal_(journal), fd_(fd) {}
  // Takes `journal` (closed on failure), keeps the server's entries, from its end on.
  static std::unique_ptr<JournalSource> Follow(sd_journal* journal, std::string* err);

  sd_journal* journal_;
  int fd_;
};

// The name in.tftpd logs under, in the journal's SYSLOG_IDENTIFIER field.
inline constexpr const char* kServerIdentifier = "in.tftpd";

}  // namespace tftpc
