#include "utility/widgets/qrb_application_panels.h"

#include <QDialog>
#include <QPointer>

#include "platform/widgets/panels.h"

namespace QRBApplication {

void openModalPanel(QDialog* panel, QWidget* window) {
  if (panel == nullptr) return;
  if (window != nullptr && platform::beginSheet(*panel, *window)) return;
  platform::makeKeyAndOrderFront(*panel);
}

void closeModalPanel(QDialog* panel, QWidget* window) {
  if (panel == nullptr) return;
  if (window != nullptr) {
    platform::endSheet(*panel);
    panel->hide();
  } else {
    panel->close();
  }
}

int runModalPanel(QDialog* panel, QWidget* window) {
  if (panel == nullptr) return platform::NSRunAbortedResponse;
  QPointer<QDialog> guard(panel);
  // Without a window the loop shows the panel application-modal. A loop that ends with the
  // panel still shown (the application quit) leaves it so; closing hides it, and then it is
  // made non-modal again here.
  const bool madeModal =
      window == nullptr && !panel->isVisible() && panel->windowModality() == Qt::NonModal;
  if (window != nullptr) openModalPanel(panel, window);
  const int code = platform::runModalForWindow(*panel);
  if (guard) closeModalPanel(panel, window);
  if (guard && madeModal && !panel->isVisible()) panel->setWindowModality(Qt::NonModal);
  return code;
}

}  // namespace QRBApplication
