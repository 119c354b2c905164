#include "tftp-controller/system/transfer_source.h"

#include <grp.h>
#include <libintl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tftp-controller/system/journal_source.h"
#include "tftp-controller/system/syslog_file_source.h"

#define _(s) gettext(s)

namespace tftpc {

namespace {

// `text` with each "%s" replaced by the next of `values`.
std::string Fill(std::string text, std::initializer_list<std::string> values) {
  std::size_t at = 0;
  for (const std::string& value : values) {
    at = text.find("%s", at);
    if (at == std::string::npos) break;
    text.replace(at, 2, value);
    at += value.size();
  }
  return text;
}

std::string UserName() {
  std::string name;
  std::vector<char> buffer(16384);
  passwd entry{}, *found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    name = found->pw_name;
  return name.empty() ? std::to_string(getuid()) : name;
}

std::string GroupName(gid_t gid) {
  std::vector<char> buffer(16384);
  group entry{}, *found = nullptr;
  if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->gr_name;
  return std::to_string(gid);
}

}  // namespace

SourceChoice OpenTransferSource() {
  return OpenTransferSource(SourcePlaces{});
}

SourceChoice OpenTransferSource(const SourcePlaces& places) {
  SourceChoice choice;
  struct stat st {};
  const bool systemd = stat(places.systemd_dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  std::string journal_problem;
  if (systemd) {
    if (auto journal = JournalSource::Open(&journal_problem)) {
      choice.source = std::move(journal);
      return choice;
    }
  }
  // A syslog daemon may write the server's lines to a file as well as, or instead of, the journal.
  std::string locked_file, locked_group;
  for (const std::string& path : places.syslog_files) {
    std::string err;
    if (auto file = SyslogFileSource::Open(path, &err)) {
      choice.source = std::move(file);
      return choice;
    }
    if (locked_file.empty() && access(path.c_str(), R_OK) != 0 && errno == EACCES &&
        stat(path.c_str(), &st) == 0) {
      locked_file = path;
      locked_group = GroupName(st.st_gid);
    }
  }
  const std::string user = UserName();
  if (systemd) {
    choice.why_none = Fill(
        _("The server's transfers are in the systemd journal, which this user may not read. To "
          "see them, join the group systemd-journal: sudo adduser %s systemd-journal, then log "
          "in again."),
        {user});
    if (journal_problem != JournalSource::NotReadable())
      choice.why_none += " (" + journal_problem + ")";
  } else if (!locked_file.empty()) {
    choice.why_none =
        Fill(_("The server's transfers are in %s, which only the group %s may read. To see them, "
               "join it: sudo adduser %s %s, then log in again."),
             {locked_file, locked_group, user, locked_group});
  } else {
    std::string files;
    for (const std::string& path : places.syslog_files) files += (files.empty() ? "" : ", ") + path;
    choice.why_none = Fill(
        _("No log holds the server's transfers: systemd does not run here and there is no "
          "system log file (%s). To have one, install a syslog daemon: sudo apt install rsyslog."),
        {files});
  }
  return choice;
}

}  // namespace tftpc
