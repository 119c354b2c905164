#include "platform/desktop/alert.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace platform {

int RunCriticalAlertPanel(const std::string& title, const std::string& message) {
  QCoreApplication* application = QCoreApplication::instance();
  if (qobject_cast<QApplication*>(application) == nullptr ||
      QThread::currentThread() != application->thread()) {
    std::string line = title + ": " + message + "\n";
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
    return NSAlertDefaultReturn;
  }
  QMessageBox alert(QMessageBox::Critical, QString::fromStdString(title),
                    QString::fromStdString(message), QMessageBox::Ok);
  // An application ID from elsewhere must not be read as markup.
  alert.setTextFormat(Qt::PlainText);
  alert.exec();
  return NSAlertDefaultReturn;
}

}  // namespace platform
