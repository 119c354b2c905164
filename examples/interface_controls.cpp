// Draws the library's interface controls offscreen and saves the pictures that
// docs/library-desktop.md shows:
//   interface_controls [FOLDER]
// writes FOLDER/table-view.png (a pop-up button refilled with the network interfaces, and a
// table with a centred check-box column and a pop-up column) and FOLDER/sheet.png (a panel run
// as a sheet on that window; a timer presses its default button, which ends the modal loop).
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "platform/widgets/check_box_cell.h"
#include "platform/widgets/popup_cell.h"
#include "platform/widgets/table_view.h"
#include "utility/widgets/qrb_application_panels.h"
#include "utility/widgets/qrb_popup_button.h"
#include "utility/widgets/qrb_table_view.h"

namespace {

struct Interface {
  const char* name;
  const char* address;
  bool served;
  const char* mode;
};

constexpr Interface kInterfaces[] = {
    {"eth0", "192.0.2.10", true, "octet"},
    {"eth1", "198.51.100.7", false, "netascii"},
    {"wlan0", "203.0.113.42", true, "octet"},
};

// The controller's window: where the service listens, and which interfaces it serves on.
class ServiceWindow : public QWidget {
 public:
  ServiceWindow() : model_(0, 3) {
    setWindowTitle("TFTP service");
    auto* layout = new QVBoxLayout(this);
    auto* listen = new QComboBox;
    QStringList names;
    for (const Interface& interface : kInterfaces) names.append(interface.name);
    QRBPopupButton::replaceItemsWithTitles(*listen, names);
    layout->addWidget(new QLabel("Listen on:"));
    layout->addWidget(listen);

    model_.setHorizontalHeaderLabels({"Serve", "Interface", "Transfer mode"});
    for (const Interface& interface : kInterfaces) {
      auto* served = new QStandardItem;
      served->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
      served->setData(interface.served ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
      auto* name = new QStandardItem(QString("%1  %2").arg(interface.name, interface.address));
      name->setFlags(Qt::ItemIsEnabled);
      model_.appendRow({served, name, new QStandardItem(interface.mode)});
    }
    table_.setModel(&model_);
    table_.addTableColumn("serve").setDataCell(new platform::CheckBoxCell);
    table_.addTableColumn("interface");
    table_.addTableColumn("mode").setDataCell(new platform::PopupCell);
    QRBTableView::fillPopupButtonCell(table_, "mode", {"octet", "netascii"});
    QRBTableView::centerCheckboxCells(table_);
    table_.verticalHeader()->hide();
    table_.setShowGrid(false);
    table_.setColumnWidth(0, 60);
    table_.setColumnWidth(1, 190);
    table_.horizontalHeader()->setStretchLastSection(true);
    table_.setSelectionMode(QAbstractItemView::NoSelection);
    table_.setFocusPolicy(Qt::NoFocus);
    layout->addWidget(&table_);
    resize(440, 205);
  }

 private:
  QStandardItemModel model_;
  platform::TableView table_;
};

// A sheet is drawn where it hangs: centred at the top edge of its window, with a shadow.
QImage SheetOnWindow(QWidget& window, QWidget& sheet) {
  QImage image = window.grab().toImage();
  const QImage panel = sheet.grab().toImage();
  QPainter painter(&image);
  painter.fillRect(image.rect(), QColor(0, 0, 0, 40));  // the blocked window
  const QRect at(QPoint((image.width() - panel.width()) / 2, 0), panel.size());
  for (int i = 1; i <= 4; ++i) {
    painter.fillRect(at.adjusted(-i, 0, i, i), QColor(0, 0, 0, 18));
  }
  painter.drawImage(at.topLeft(), panel);
  painter.setPen(QColor(0, 0, 0, 90));
  painter.drawRect(at.adjusted(0, -1, -1, -1));
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("."));
  if (!folder.exists() && !QDir().mkpath(folder.path())) {
    std::fprintf(stderr, "interface_controls: cannot make %s\n", qPrintable(folder.path()));
    return 1;
  }

  ServiceWindow window;
  window.show();
  QApplication::processEvents();
  const QString tablePath = folder.filePath("table-view.png");
  if (!window.grab().save(tablePath)) {
    std::fprintf(stderr, "interface_controls: cannot write %s\n", qPrintable(tablePath));
    return 1;
  }
  std::printf("%s\n", qPrintable(tablePath));

  QDialog panel;
  auto* layout = new QVBoxLayout(&panel);
  layout->addWidget(
      new QLabel("Restart the TFTP service?\n"
                 "Transfers under way are broken off."));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
  QPushButton* restart = buttons->addButton("Restart", QDialogButtonBox::AcceptRole);
  restart->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &panel, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &panel, &QDialog::reject);
  layout->addWidget(buttons);

  const QString sheetPath = folder.filePath("sheet.png");
  bool saved = false;
  QTimer::singleShot(100, &panel, [&] {
    saved = SheetOnWindow(window, panel).save(sheetPath);
    restart->click();
  });
  const int code = QRBApplication::runModalPanel(&panel, &window);
  if (!saved) {
    std::fprintf(stderr, "interface_controls: cannot write %s\n", qPrintable(sheetPath));
    return 1;
  }
  std::printf("%s\n", qPrintable(sheetPath));
  std::printf("the sheet ended with code %d (%s)\n", code,
              code == QDialog::Accepted ? "Restart" : "not Restart");
  return code == QDialog::Accepted ? 0 : 1;
}
