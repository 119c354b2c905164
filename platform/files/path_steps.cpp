#include "platform/files/path_steps.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/text/errno_text.h"

namespace platform {

namespace {

// Sets errno and *why; always false.
bool Fail(int error, std::string* why, const std::string& text) {
  *why = text;
  errno = error;
  return false;
}

}  // namespace

std::pair<std::string, std::string> SplitPath(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string ReadLinkAt(int dirfd, const std::string& name) {
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = readlinkat(dirfd, name.c_str(), buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) return buf.substr(0, n);
    buf.resize(buf.size() * 2);
  }
}

bool MayFollowLink(const struct stat& folder, const struct stat& link) {
  const bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
  return !shared || link.st_uid == geteuid() || link.st_uid == folder.st_uid;
}

bool WalkPath(const std::string& path, PathEnd* end, std::string* why) {
  if (path.empty()) return Fail(ENOENT, why, ErrnoText(ENOENT));
  // `walked` is the text of the folder `dir` stands for, `rest` what is still to be walked
  // from it; a link's target takes the link's place at the front of `rest`.
  std::string walked = path[0] == '/' ? "/" : "";
  std::string rest = path;
  OwnedFd dir(open(walked.empty() ? "." : "/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid())
    return Fail(errno, why, (walked.empty() ? "." : "/") + (": " + ErrnoText(errno)));
  int hops = 0;
  for (;;) {
    std::size_t start = rest.find_first_not_of('/');
    if (start == std::string::npos) start = rest.size();
    std::size_t stop = rest.find('/', start);
    const bool last = stop == std::string::npos;
    std::string name = rest.substr(start, last ? std::string::npos : stop - start);
    rest.erase(0, last ? rest.size() : stop);
    if (last && (name.empty() || name == "." || name == ".."))
      return Fail(EISDIR, why, walked + name + ": not a regular file");
    if (!last && (name.empty() || name == ".")) continue;  // "a//b", "a/./b"
    struct stat st;
    if (!last) {
      OwnedFd next(openat(dir.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (next.valid()) {
        dir = std::move(next);
        walked += name + "/";
        continue;
      }
      // Not a folder: a link (followed below) or the end of the walk.
      const int error = errno;
      if ((error != ENOTDIR && error != ELOOP) ||
          fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
        return Fail(error, why, walked + name + ": " + ErrnoText(error));
    } else if (fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return Fail(errno, why, walked + name + ": " + ErrnoText(errno));
      end->exists = false;
      st = {};
    } else {
      end->exists = !S_ISLNK(st.st_mode);
    }
    if (S_ISLNK(st.st_mode)) {
      if (++hops > kMaxSymlinkHops) return Fail(ELOOP, why, path + ": " + ErrnoText(ELOOP));
      struct stat folder;
      if (fstat(dir.get(), &folder) != 0)
        return Fail(errno, why, walked + name + ": " + ErrnoText(errno));
      if (!MayFollowLink(folder, st))
        return Fail(EACCES, why,
                    walked + name +
                        ": a symbolic link in a sticky folder anyone may write to, owned neither "
                        "by us nor by the folder's owner, is not followed");
      errno = 0;
      std::string target = ReadLinkAt(dir.get(), name);
      if (target.empty()) {
        const int error = errno == 0 || errno == EINVAL ? ENOENT : errno;
        return Fail(error, why, walked + name + ": " + ErrnoText(error));
      }
      if (target[0] == '/') {
        dir.Reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!dir.valid()) return Fail(errno, why, "/: " + ErrnoText(errno));
        walked = "/";
      }
      rest.insert(0, target);
      continue;
    }
    // The end: the folder is opened again for reading, as the replacement needs it.
    end->dir.Reset(openat(dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!end->dir.valid()) {
      const int error = errno;
      std::string folder = walked.size() > 1 ? walked.substr(0, walked.size() - 1) : walked;
      return Fail(error, why, (folder.empty() ? "." : folder) + ": " + ErrnoText(error));
    }
    end->name = std::move(name);
    end->shown = walked + end->name;
    end->st = st;
    return true;
  }
}

}  // namespace platform
