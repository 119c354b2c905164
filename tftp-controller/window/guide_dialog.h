// The short guide shown at the first launch (and from the Help menu): what to do, in four steps.
#pragma once

class QDialog;
class QWidget;

namespace tftpc {

// Shows the guide beside `window`, without blocking it, and returns it (deleted when closed).
QDialog* ShowGuide(QWidget* window);

}  // namespace tftpc
