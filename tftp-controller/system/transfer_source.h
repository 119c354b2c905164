// Where in.tftpd's lines are read from: the systemd journal, or the syslog file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tftpc {

struct LogLine {
  std::int64_t time_usec;
  pid_t pid;
  std::string message;
};

class TransferSource {
 public:
  virtual ~TransferSource() = default;
  virtual int fd() const = 0;                  // readable when new lines may be there; -1: poll
  virtual std::vector<LogLine> ReadNew() = 0;  // in.tftpd's lines since the last call
  virtual std::string Describe() const = 0;    // "the systemd journal", "/var/log/syslog"
};

struct SourceChoice {
  std::unique_ptr<TransferSource> source;
  std::string why_none;
};

// The journal through sd-journal where systemd runs; else the syslog file when readable; else
// none, with why and how to get it ("join the group adm: sudo adduser ann adm, then log in again").
SourceChoice OpenTransferSource();

// Where OpenTransferSource looks (tests give places of their own).
struct SourcePlaces {
  std::string systemd_dir = "/run/systemd/system";  // there only while systemd runs
  std::vector<std::string> syslog_files = {"/var/log/syslog", "/var/log/daemon.log"};
};
SourceChoice OpenTransferSource(const SourcePlaces& places);

}  // namespace tftpc
