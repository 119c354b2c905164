// tftp-controller: the window through which a desktop user serves a folder over TFTP.
#include <libintl.h>

#include <QApplication>
#include <clocale>
#include <string>

#include "platform/bundle/bundle.h"
#include "tftp-controller/service/settings_store.h"
#include "tftp-controller/window/main_window.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  QApplication app(argc, argv);
  QApplication::setApplicationName("tftp-controller");
  QApplication::setDesktopFileName("org.qrb.TftpController");

  // The program's texts come from the catalogs of its bundle (PREFIX/share/tftp-controller, or
  // the executable's folder in a build tree).
  const std::string locale = platform::MainBundle()->bundlePath() + "/locale";
  bindtextdomain("tftp-controller", locale.c_str());
  bind_textdomain_codeset("tftp-controller", "UTF-8");
  textdomain("tftp-controller");

  tftpc::WindowSetup setup;
  setup.settings_path = tftpc::SettingsPath();
  tftpc::MainWindow window(setup, tftpc::LoadSettings(setup.settings_path));
  window.show();
  window.ShowGuideIfFirstLaunch();
  return app.exec();
}
