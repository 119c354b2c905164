#include "tftp-controller/system/syslog_file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

namespace tftpc {

namespace {

// A line longer than this is no line of in.tftpd's: it is skipped, never held whole.
constexpr std::size_t kLongestLine = 16 * 1024;
constexpr std::int64_t kDayUsec = 86400LL * 1000000;

bool Digits(std::string_view text, std::size_t at, std::size_t count, int* value) {
  if (at + count > text.size()) return false;
  int v = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = v;
  return true;
}

// "2026-12-08T18:59:47[.123456](Z|+01:00)": the time and the length read.
bool Rfc3339(std::string_view text, std::int64_t* usec, std::size_t* length) {
  std::tm tm{};
  if (text.size() < 20 || !Digits(text, 0, 4, &tm.tm_year) || text[4] != '-' ||
      !Digits(text, 5, 2, &tm.tm_mon) || text[7] != '-' || !Digits(text, 8, 2, &tm.tm_mday) ||
      text[10] != 'T' || !Digits(text, 11, 2, &tm.tm_hour) || text[13] != ':' ||
      !Digits(text, 14, 2, &tm.tm_min) || text[16] != ':' || !Digits(text, 17, 2, &tm.tm_sec))
    return false;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  std::size_t at = 19;
  std::int64_t fraction = 0;
  if (at < text.size() && text[at] == '.') {
    std::int64_t scale = 1000000;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      scale /= 10;
      fraction += (text[at] - '0') * scale;
    }
  }
  int offset = 0;
  if (at < text.size() && text[at] == 'Z') {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    int hours = 0, minutes = 0;
    if (!Digits(text, at + 1, 2, &hours) || at + 3 >= text.size() || text[at + 3] != ':' ||
        !Digits(text, at + 4, 2, &minutes))
      return false;
    offset = (hours * 60 + minutes) * 60 * (text[at] == '-' ? -1 : 1);
    at += 6;
  } else {
    return false;
  }
  *usec = (static_cast<std::int64_t>(timegm(&tm)) - offset) * 1000000 + fraction;
  *length = at;
  return true;
}

// "Dec  8 18:59:47", local time, the year guessed from now.
bool Traditional(std::string_view text, std::int64_t now_usec, std::int64_t* usec) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (text.size() < 15 || text[3] != ' ' || text[6] != ' ' || text[9] != ':' || text[12] != ':')
    return false;
  std::tm tm{};
  tm.tm_mon = -1;
  for (int m = 0; m < 12; ++m)
    if (text.substr(0, 3) == kMonths[m]) tm.tm_mon = m;
  if (tm.tm_mon < 0 || !Digits(text, 7, 2, &tm.tm_hour) || !Digits(text, 10, 2, &tm.tm_min) ||
      !Digits(text, 13, 2, &tm.tm_sec) ||
      !(text[4] == ' ' ? Digits(text, 5, 1, &tm.tm_mday) : Digits(text, 4, 2, &tm.tm_mday)))
    return false;
  const std::time_t now = static_cast<std::time_t>(now_usec / 1000000);
  std::tm local{};
  localtime_r(&now, &local);
  for (int year : {local.tm_year, local.tm_year - 1}) {
    std::tm guess = tm;
    guess.tm_year = year;
    guess.tm_isdst = -1;
    const std::int64_t at = static_cast<std::int64_t>(mktime(&guess)) * 1000000;
    if (at <= now_usec + kDayUsec) {
      *usec = at;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ParseSyslogLine(std::string_view line, std::int64_t now_usec, LogLine* out) {
  std::int64_t usec = 0;
  std::size_t length = 0;
  if (Rfc3339(line, &usec, &length)) {
    line.remove_prefix(length);
  } else if (Traditional(line, now_usec, &usec)) {
    line.remove_prefix(15);
  } else {
    return false;
  }
  // " host in.tftpd[PID]: TEXT"
  if (line.empty() || line[0] != ' ') return false;
  const std::size_t host_end = line.find(' ', 1);
  if (host_end == std::string_view::npos || host_end == 1) return false;
  line.remove_prefix(host_end + 1);
  constexpr std::string_view kTag = "in.tftpd[";
  if (line.substr(0, kTag.size()) != kTag) return false;
  line.remove_prefix(kTag.size());
  const std::size_t close = line.find("]: ");
  int pid = 0;
  if (close == std::string_view::npos || close == 0 || close > 9 || !Digits(line, 0, close, &pid))
    return false;
  out->time_usec = usec;
  out->pid = pid;
  out->message = std::string(line.substr(close + 3));
  return true;
}

std::unique_ptr<SyslogFileSource> SyslogFileSource::Open(const std::string& path,
                                                         std::string* err) {
  platform::OwnedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st {};
  if (!fd.valid() || fstat(fd.get(), &st) != 0) {
    if (err) *err = path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    if (err) *err = path + " is not a file";
    return nullptr;
  }
  return std::unique_ptr<SyslogFileSource>(new SyslogFileSource(path, std::move(fd), st.st_size));
}

SyslogFileSource::SyslogFileSource(std::string path, platform::OwnedFd fd, off_t offset)
    : path_(std::move(path)), fd_(std::move(fd)), offset_(offset) {}

std::vector<LogLine> SyslogFileSource::ReadNew() {
  std::vector<LogLine> lines;
  ReadOn(&lines);
  // Rotated: the name leads to another file now. What the old one got last is read above.
  platform::OwnedFd now(open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat was {
  }, is{};
  if (now.valid() && fstat(now.get(), &is) == 0 && S_ISREG(is.st_mode) &&
      fstat(fd_.get(), &was) == 0 && (was.st_ino != is.st_ino || was.st_dev != is.st_dev)) {
    fd_ = std::move(now);
    offset_ = 0;
    partial_.clear();
    ReadOn(&lines);
  }
  return lines;
}

void SyslogFileSource::ReadOn(std::vector<LogLine>* out) {
  struct stat st {};
  if (fstat(fd_.get(), &st) == 0 && st.st_size < offset_) {
    offset_ = 0;  // truncated in place (copytruncate)
    partial_.clear();
  }
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::int64_t now_usec =
      static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
  char buffer[65536];
  for (;;) {
    const ssize_t n = pread(fd_.get(), buffer, sizeof buffer, offset_);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    offset_ += n;
    std::string_view chunk(buffer, static_cast<std::size_t>(n));
    for (std::size_t newline; (newline = chunk.find('\n')) != std::string_view::npos;) {
      const std::string_view end = chunk.substr(0, newline);
      chunk.remove_prefix(newline + 1);
      LogLine line;
      if (partial_.size() + end.size() <= kLongestLine) {
        partial_.append(end);
        if (ParseSyslogLine(partial_, now_usec, &line)) out->push_back(std::move(line));
      }
      partial_.clear();
    }
    // An overlong line is dropped; its end still ends it (marked by one byte past the limit).
    partial_.append(
        chunk.substr(0, kLongestLine + 1 - std::min(partial_.size(), kLongestLine + 1)));
  }
}

}  // namespace tftpc
