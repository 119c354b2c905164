// Helpers for the desktop library's tests: test bundles, and the programs the tests start
// (msgfmt, Xvfb, the probe), each torn down by its owner. Scratch folders, files and programs run
// once come from tests/test_support.h.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace desktop_testing {

// The path of an installed program looked for in /usr/bin, /bin, /usr/sbin, /sbin, or "".
std::string FindProgram(const std::string& name);

// An XML property list whose root dictionary holds `body` (already marked up).
std::string InfoPlist(const std::string& body);

// Compiles `po` (a catalog's text) into FOLDER/locale/LANGUAGE/LC_MESSAGES/DOMAIN.mo with
// msgfmt. False when msgfmt is missing or refuses it.
bool CompileCatalog(const std::string& folder, const std::string& language,
                    const std::string& domain, const std::string& po);

}  // namespace desktop_testing

namespace desktop_testing {

// An X server of our own (Xvfb on a display number it finds free), stopped at destruction.
class XServer {
 public:
  // nullptr with the reason in *why_not when Xvfb is missing or does not start.
  static std::unique_ptr<XServer> Start(std::string* why_not);
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  // ":N", for DISPLAY.
  const std::string& display() const { return display_; }

 private:
  XServer(pid_t pid, std::string display) : pid_(pid), display_(std::move(display)) {}
  pid_t pid_;
  std::string display_;
};

// A sleeping child as a launcher starts an application of `desktop_file`: its environment holds
// only GIO_LAUNCHED_DESKTOP_FILE and GIO_LAUNCHED_DESKTOP_FILE_PID, the latter its own pid plus
// `pid_offset` (not 0: a process that merely inherited them). Returned once it runs sleep; -1
// on failure. The caller kills and reaps it.
pid_t StartLaunchedSleeper(const std::string& desktop_file, int pid_offset = 0);

// Waits up to `seconds` for `condition` to hold, checking every 20 ms.
bool WaitFor(const std::function<bool()>& condition, double seconds = 10);

}  // namespace desktop_testing
