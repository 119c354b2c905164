#include "tftp-controller/system/journal_source.h"

#include <libintl.h>
#include <systemd/sd-journal.h>

#include <cstring>
#include <string_view>

#define _(s) gettext(s)

namespace tftpc {

namespace {

// Of a field "NAME=VALUE", the value; empty when the entry has no such field.
std::string_view Field(sd_journal* journal, const char* name) {
  const void* data = nullptr;
  std::size_t length = 0;
  if (sd_journal_get_data(journal, name, &data, &length) < 0) return {};
  std::string_view field(static_cast<const char*>(data), length);
  const std::size_t skip = std::strlen(name) + 1;
  return field.size() >= skip ? field.substr(skip) : std::string_view();
}

pid_t Pid(std::string_view digits) {
  if (digits.empty() || digits.size() > 9) return 0;
  pid_t pid = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

}  // namespace

std::unique_ptr<JournalSource> JournalSource::Open(std::string* err) {
  sd_journal* journal = nullptr;
  const int r = sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY | SD_JOURNAL_SYSTEM);
  if (r < 0) {
    if (err) *err = std::string(_("cannot open the systemd journal: ")) + std::strerror(-r);
    return nullptr;
  }
  // Without a file of the system's own (/run/log/journal, /var/log/journal), this user sees
  // nothing the server logs.
  if (sd_journal_has_runtime_files(journal) <= 0 && sd_journal_has_persistent_files(journal) <= 0) {
    sd_journal_close(journal);
    if (err) *err = NotReadable();
    return nullptr;
  }
  return Follow(journal, err);
}

std::unique_ptr<JournalSource> JournalSource::OpenOsTree(const std::string& root,
                                                         std::string* err) {
  sd_journal* journal = nullptr;
  const int r = sd_journal_open_directory(&journal, root.c_str(), SD_JOURNAL_OS_ROOT);
  if (r < 0) {
    if (err) *err = std::string(_("cannot open the systemd journal: ")) + std::strerror(-r);
    return nullptr;
  }
  return Follow(journal, err);
}

std::unique_ptr<JournalSource> JournalSource::Follow(sd_journal* journal, std::string* err) {
  const std::string match = std::string("SYSLOG_IDENTIFIER=") + kServerIdentifier;
  int r = 0, fd = -1;
  // At the server's last entry, the next ones are new. With none yet, the position "tail" is
  // no entry, and a later step from it skips all but the newest: start at the head instead.
  if ((r = sd_journal_add_match(journal, match.data(), match.size())) < 0 ||
      (r = sd_journal_seek_tail(journal)) < 0 || (r = sd_journal_previous(journal)) < 0 ||
      (r == 0 && (r = sd_journal_seek_head(journal)) < 0) ||
      (fd = r = sd_journal_get_fd(journal)) < 0) {
    sd_journal_close(journal);
    if (err) *err = std::string(_("cannot follow the systemd journal: ")) + std::strerror(-r);
    return nullptr;
  }
  return std::unique_ptr<JournalSource>(new JournalSource(journal, fd));
}

const char* JournalSource::NotReadable() {
  return _("this user may not read the system's journal");
}

JournalSource::~JournalSource() {
  sd_journal_close(journal_);
}

std::string JournalSource::Describe() const {
  return _("the systemd journal");
}

std::vector<LogLine> JournalSource::ReadNew() {
  std::vector<LogLine> lines;
  sd_journal_process(journal_);  // clears the descriptor's readiness, notes new files
  while (sd_journal_next(journal_) > 0) {
    LogLine line{};
    std::uint64_t usec = 0;
    if (sd_journal_get_realtime_usec(journal_, &usec) >= 0)
      line.time_usec = static_cast<std::int64_t>(usec);
    line.pid = Pid(Field(journal_, "SYSLOG_PID"));
    if (line.pid == 0) line.pid = Pid(Field(journal_, "_PID"));
    line.message = std::string(Field(journal_, "MESSAGE"));
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace tftpc
