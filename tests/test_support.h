// Helpers for the tests that run the built programs.
#pragma once

#include <string>
#include <vector>

namespace test_support {

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal number when killed by a signal
};

// Runs argv[0] (a path) with the arguments, writing `input` to its standard input and closing
// it. With `env` null the child inherits the environment.
RunResult Run(const std::vector<std::string>& argv, const std::string& input = "",
              const std::vector<std::string>* env = nullptr);

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
// Writes a file, making the folders on its way. False on any failure.
bool WriteFile(const std::string& path, const std::string& content);
bool IsRoot();

}  // namespace test_support
