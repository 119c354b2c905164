// The application utilities from a host program: its version and folders, the document types
// its bundle declares, and, given a desktop-entry ID, launching that application, finding its
// process and quitting it.
//
//   app_utilities_example [ID]
#include <unistd.h>

#include <cstdio>
#include <string>

#include "utility/apps/app_utilities.h"
#include "utility/widgets/qrb_application.h"

int main(int argc, char** argv) {
  std::printf("version: %g\n", AppVersion());
  std::printf("library folder: %s\n", UserLibraryPath().c_str());
  std::printf("support folder: %s\n", UserAppSupportPath().c_str());
  std::string types;
  for (const std::string& type : QRBApplication::allDocumentTypes()) types += " " + type;
  std::printf("document types:%s\n", types.c_str());
  if (argc < 2) return 0;

  std::string id = argv[1];
  std::printf("%s running: %s\n", id.c_str(), AppIsRunning(id) ? "yes" : "no");
  if (!LaunchApp(id, platform::NSWorkspaceLaunchDefault)) return 1;
  // A launch returns once the program is started; its process shows up right after.
  ProcessSerialNumber psn{kNoProcess, kNoProcess};
  for (int i = 0; i < 100 && !ProcessIsRunning(id, &psn); ++i) usleep(50000);
  if (psn.lowLongOfPSN == 0) {
    std::printf("%s did not show up\n", id.c_str());
    return 1;
  }
  std::printf("launched: pid %u, running: %s\n", psn.lowLongOfPSN, AppIsRunning(id) ? "yes" : "no");
  QuitApp(id, false);
  for (int i = 0; i < 100 && AppIsRunning(id); ++i) usleep(50000);
  bool running = AppIsRunning(id);
  std::printf("after quitting, running: %s\n", running ? "yes" : "no");
  return running ? 1 : 0;
}
