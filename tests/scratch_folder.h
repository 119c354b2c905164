// For unit tests: a folder of the test's own under $TMPDIR (else /tmp), removed with everything
// in it when the test ends, however it ends.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

namespace test_support {

class ScratchFolder {
 public:
  // The folder's name begins with `prefix`. Without a folder the test cannot go on (its paths
  // would name places outside it), so failing to make one throws, which fails the test.
  explicit ScratchFolder(const std::string& prefix = "scratch") {
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = tmp && *tmp ? tmp : "/tmp";
    std::string pattern = base + "/" + prefix + ".XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
      throw std::system_error(errno, std::generic_category(), "making a folder in " + base);
    path_ = pattern;
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    namespace fs = std::filesystem;
    // A folder a test made read-only would keep an ordinary user from removing what is in it:
    // each folder (never what a link leads to) is made the owner's to change again first.
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (fs::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code ignored;
      if (it->symlink_status(ignored).type() == fs::file_type::directory)
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ec);
  }

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // The names in the folder, or in its subfolder `sub`: a file left behind shows up here.
  std::set<std::string> Names(const std::string& sub = "") const {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(sub.empty() ? path_ : File(sub)))
      out.insert(e.path().filename());
    return out;
  }

 private:
  std::string path_;
};

}  // namespace test_support
