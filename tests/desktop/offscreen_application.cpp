#include "tests/desktop/offscreen_application.h"

#include <cstdlib>

// Fontconfig, which Qt loads fonts through, keeps a cache it never frees; the leak checker of
// the sanitizer build is told so.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace desktop_testing {

QApplication& OffscreenApplication() {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "desktop_tests";
  static char* argv[] = {name, nullptr};
  static auto* app = new QApplication(argc, argv);
  return *app;
}

QRect InkWithin(const QImage& image, const QRect& area) {
  const QRgb background = image.pixel(area.topLeft());
  QRect ink;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (image.pixel(x, y) != background) ink |= QRect(x, y, 1, 1);
    }
  }
  return ink;
}

}  // namespace desktop_testing
