#include "platform/widgets/alert_panel.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "platform/apps/alert.h"

namespace platform {

int ShowAlertPanel(const std::string& title, const std::string& message) {
  QCoreApplication* application = QCoreApplication::instance();
  if (qobject_cast<QApplication*>(application) == nullptr ||
      QThread::currentThread() != application->thread()) {
    return WriteAlertToStandardError(title, message);
  }
  QMessageBox alert(QMessageBox::Critical, QString::fromStdString(title),
                    QString::fromStdString(message), QMessageBox::Ok);
  // An application ID from elsewhere must not be read as markup.
  alert.setTextFormat(Qt::PlainText);
  alert.exec();
  return NSAlertDefaultReturn;
}

}  // namespace platform

extern "C" const bool qrb_alert_panel_installed =
    (platform::SetAlertPresenter(&platform::ShowAlertPanel), true);
