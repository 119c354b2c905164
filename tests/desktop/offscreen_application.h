// The one QApplication of a desktop test program, and what tests of widgets look at.
#pragma once

#include <QApplication>
#include <QImage>
#include <QRect>

namespace desktop_testing {

// The program's application, made at the first call and kept for the whole run (Qt does not
// take a second application object well). It draws offscreen unless QT_QPA_PLATFORM names
// another platform, as a test that starts an X server does.
QApplication& OffscreenApplication();

// The smallest rectangle within `area` of `image` holding every pixel that differs from the
// area's top-left pixel (its background); null when there is none.
QRect InkWithin(const QImage& image, const QRect& area);

}  // namespace desktop_testing
