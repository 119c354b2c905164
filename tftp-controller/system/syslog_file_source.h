// in.tftpd's lines read from a syslog daemon's file (/var/log/syslog), followed as it grows and
// when it is rotated.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/files/owned_fd.h"
#include "tftp-controller/system/transfer_source.h"

namespace tftpc {

// One line of a syslog file, "Dec  8 18:59:47 host in.tftpd[9154]: TEXT" or with an RFC 3339
// time ("2026-12-08T18:59:47.123456+01:00 host in.tftpd[9154]: TEXT"), into *out; false for a
// line of another program or one that is not a syslog line. A time without a year is taken in
// the local time zone, in the year that does not put it more than a day after `now_usec`.
bool ParseSyslogLine(std::string_view line, std::int64_t now_usec, LogLine* out);

class SyslogFileSource : public TransferSource {
 public:
  // Opens `path` and starts at its end; nullptr with *err when it cannot be read.
  static std::unique_ptr<SyslogFileSource> Open(const std::string& path, std::string* err);

  int fd() const override { return -1; }
  std::vector<LogLine> ReadNew() override;
  std::string Describe() const override { return path_; }

 private:
  SyslogFileSource(std::string path, platform::OwnedFd fd, off_t offset);
  // Appends the whole lines from offset_ on to *out; keeps a partial last line for later.
  void ReadOn(std::vector<LogLine>* out);

  std::string path_;
  platform::OwnedFd fd_;
  off_t offset_ = 0;
  std::string partial_;
};

}  // namespace tftpc
