#include "platform/widgets/panels.h"

#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <utility>

namespace platform {

namespace {

// What a panel had before it became a sheet, kept as the panel's child until the sheet ends.
class SheetLoan : public QObject {
 public:
  SheetLoan(QDialog& sheet)
      : QObject(&sheet),
        parent(sheet.parentWidget()),
        flags(sheet.windowFlags()),
        modality(sheet.windowModality()) {
    setObjectName(kName);
  }
  static SheetLoan* of(QDialog& sheet) {
    return sheet.findChild<SheetLoan*>(kName, Qt::FindDirectChildrenOnly);
  }

  QPointer<QWidget> parent;
  Qt::WindowFlags flags;
  Qt::WindowModality modality;

 private:
  static constexpr const char* kName = "platform-sheet-loan";
};

// Calls back when its watched widget is hidden.
class HideWatch : public QObject {
 public:
  explicit HideWatch(std::function<void()> hidden) : hidden_(std::move(hidden)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Hide) hidden_();
    return false;
  }

 private:
  std::function<void()> hidden_;
};

}  // namespace

bool beginSheet(QDialog& sheet, QWidget& window) {
  QWidget* host = window.window();
  if (host == &sheet || sheet.isAncestorOf(host)) return false;
  if (SheetLoan::of(sheet) == nullptr) new SheetLoan(sheet);
  // A window-modal dialog blocks its parent's window: the sheet becomes the window's child.
  sheet.setParent(host, (sheet.windowFlags() & ~Qt::WindowType_Mask) | Qt::Sheet);
  sheet.open();
  return true;
}

void endSheet(QDialog& sheet) {
  SheetLoan* loan = SheetLoan::of(sheet);
  if (loan == nullptr) return;
  sheet.hide();
  sheet.setParent(loan->parent, loan->flags);
  sheet.setWindowModality(loan->modality);
  delete loan;
}

void makeKeyAndOrderFront(QWidget& window) {
  if (window.isMinimized()) window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
  window.show();
  window.raise();
  window.activateWindow();
}

int runModalForWindow(QDialog& panel) {
  QPointer<QDialog> guard(&panel);
  const Qt::WindowModality before = panel.windowModality();
  if (before == Qt::NonModal) {
    // Modality takes effect when a window is shown.
    panel.hide();
    panel.setWindowModality(Qt::ApplicationModal);
  }
  if (!panel.isVisible()) makeKeyAndOrderFront(panel);

  QEventLoop loop;
  int code = NSRunAbortedResponse;
  bool ended = false;
  auto end = [&](int result) {
    if (ended) return;
    ended = true;
    code = result;
    loop.exit();
  };
  QObject connections;  // every connection below ends with it
  QObject::connect(&panel, &QDialog::finished, &connections, end);
  QObject::connect(&panel, &QObject::destroyed, &connections, [&] { end(NSRunAbortedResponse); });
  // done(code) hides the panel before it reports the code; any other hiding ends the loop once
  // the events at hand are handled.
  HideWatch watch([&] {
    QTimer::singleShot(0, &connections, [&] {
      if (!guard || !guard->isVisible()) end(NSRunAbortedResponse);
    });
  });
  panel.installEventFilter(&watch);
  if (panel.isVisible()) loop.exec(QEventLoop::DialogExec);
  if (guard) {
    panel.removeEventFilter(&watch);
    if (before == Qt::NonModal && !panel.isVisible()) panel.setWindowModality(before);
  }
  return code;
}

}  // namespace platform
