#include "platform/widgets/documents.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace platform {

std::vector<QWidget*> OpenDocuments() {
  std::vector<QWidget*> documents;
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return documents;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isWindow() && widget->isVisible()) documents.push_back(widget);
  }
  return documents;
}

void UpdateChangeCount(QWidget* document, NSDocumentChangeType change) {
  if (document == nullptr) return;
  if (change == NSChangeDone) document->setWindowModified(true);
  if (change == NSChangeCleared) document->setWindowModified(false);
}

bool TerminateSafely() {
  if (QCoreApplication::instance() == nullptr) return false;
  // A document's close handler may run an event loop (a question) that closes others.
  std::vector<QPointer<QWidget>> documents;
  for (QWidget* document : OpenDocuments()) documents.emplace_back(document);
  for (const QPointer<QWidget>& document : documents) {
    if (document && document->isVisible() && !document->close()) return false;
  }
  if (!OpenDocuments().empty()) return false;
  QCoreApplication::quit();
  return true;
}

void Terminate() {
  // Not quit(): a widget application's quit asks every window to close first.
  if (QCoreApplication::instance() != nullptr) QCoreApplication::exit(0);
}

}  // namespace platform
