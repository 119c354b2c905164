// A window with the controls of the controller, by their accessible names, which acts on
// nothing: the AT-SPI harness is checked against it where the controller itself cannot run.
// Start and Stop change the status line; Diagnose lists one finding naming the served folder.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

namespace {

QWidget* Named(QWidget* widget, const char* name) {
  widget->setAccessibleName(name);
  return widget;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("app-atspi-standin");
  QWidget window;
  window.setWindowTitle("Stand-in controller");
  auto* layout = new QVBoxLayout(&window);
  auto* status = new QLabel("Stopped");
  auto* folder = new QLineEdit("/srv/tftp");
  auto* uploads = new QCheckBox("Allow uploads");
  auto* start = new QPushButton("Start");
  auto* stop = new QPushButton("Stop");
  auto* diagnose = new QPushButton("Diagnose");
  auto* findings = new QListWidget;
  for (auto [widget, name] : {std::pair<QWidget*, const char*>{status, "Status"},
                              {folder, "Served folder"},
                              {uploads, "Allow uploads"},
                              {start, "Start"},
                              {stop, "Stop"},
                              {diagnose, "Diagnose"},
                              {findings, "Findings"}}) {
    layout->addWidget(Named(widget, name));
  }
  auto show_status = [status](const QString& text) {
    status->setText(text);
    status->setAccessibleDescription(text);
  };
  show_status("Stopped");
  QObject::connect(start, &QPushButton::clicked, [=] {
    show_status(uploads->isChecked() ? "Running on every address, port 69, uploads allowed"
                                     : "Running on every address, port 69");
  });
  QObject::connect(stop, &QPushButton::clicked, [=] { show_status("Stopped"); });
  QObject::connect(diagnose, &QPushButton::clicked, [=] {
    findings->clear();
    findings->addItem("The folder: nobody cannot enter " + folder->text());
  });
  window.show();
  return app.exec();
}
