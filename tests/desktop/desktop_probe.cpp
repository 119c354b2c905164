// A small application for the desktop tests, started through its desktop entry:
//   desktop_probe --record FILE [--window [--modified]]
// It appends "started PID" to FILE, then either waits for a signal or, with --window, shows one
// top-level window holding a document (unsaved with --modified). Asked to close an unsaved
// document, it appends "asked" and stays; a saved one closes ("closed") and the probe quits
// ("quit").
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <cstring>
#include <string>

namespace {

std::string record_path;

void Record(const std::string& line) {
  int fd = open(record_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  std::string text = line + "\n";
  ssize_t ignored = write(fd, text.data(), text.size());
  (void)ignored;
  close(fd);
}

class Document : public QLabel {
 public:
  Document() : QLabel("A document") { setWindowTitle("Probe document[*]"); }

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (isWindowModified()) {
      Record("asked");
      event->ignore();
    } else {
      Record("closed");
      event->accept();
    }
  }
};

}  // namespace

// In a sanitizer build the libraries' own unfreed memory at exit is no finding of the tests.
extern "C" const char* __lsan_default_options() {
  return "detect_leaks=0";
}

int main(int argc, char** argv) {
  bool window = false, modified = false;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--record") == 0 && i + 1 < argc) {
      record_path = argv[++i];
    } else if (strcmp(argv[i], "--window") == 0) {
      window = true;
    } else if (strcmp(argv[i], "--modified") == 0) {
      modified = true;
    }
  }
  if (record_path.empty()) return 2;
  Record("started " + std::to_string(getpid()));
  if (!window) {
    for (;;) pause();
  }
  QApplication application(argc, argv);
  Document document;
  document.setWindowModified(modified);
  document.resize(200, 100);
  document.show();
  int status = application.exec();
  Record("quit");
  return status;
}
