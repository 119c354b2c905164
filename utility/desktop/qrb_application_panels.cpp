#include "utility/desktop/qrb_application_panels.h"

#include <QDialog>
#include <QPointer>

#include "platform/desktop/panels.h"

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
  // A free-standing panel is application-modal while it runs; modality is set before the panel
  // is shown, when it takes effect.
  const Qt::WindowModality before = panel->windowModality();
  const bool makeModal = window == nullptr && !panel->isVisible() && before == Qt::NonModal;
  if (makeModal) panel->setWindowModality(Qt::ApplicationModal);
  openModalPanel(panel, window);
  const int code = platform::runModalForWindow(*panel);
  if (guard) closeModalPanel(panel, window);
  if (guard && makeModal && !panel->isVisible()) panel->setWindowModality(before);
  return code;
}

}  // namespace QRBApplication
