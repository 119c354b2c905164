#include "tftp-controller/window/guide_dialog.h"

#include <libintl.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#define _(s) gettext(s)

namespace tftpc {

QDialog* ShowGuide(QWidget* window) {
  auto* guide = new QDialog(window);
  guide->setAttribute(Qt::WA_DeleteOnClose);
  guide->setWindowTitle(_("Getting started"));
  guide->setAccessibleName(QStringLiteral("Getting started"));
  auto* text = new QLabel(
      QString("<p><b>%1</b></p><ol><li>%2</li><li>%3</li><li>%4</li><li>%5</li></ol><p>%6</p>")
          .arg(_("Serve files to a device over TFTP in four steps:"),
               _("Choose the folder to serve and put the files the device asks for in it."),
               _("Press Start. Your administrator password is asked for once."),
               _("Give the device the server address shown below the interfaces."),
               _("Watch the transfers. When nothing arrives, press Diagnose."),
               _("A TFTP server should not stay open: press Stop when done, or let Stop after "
                 "stop it for you.")));
  text->setWordWrap(true);
  text->setTextFormat(Qt::RichText);
  text->setAccessibleName(QStringLiteral("Guide"));
  text->setAccessibleDescription(text->text());
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  buttons->button(QDialogButtonBox::Ok)->setText(_("&Got it"));
  buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("Got it"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, guide, &QDialog::accept);
  auto* layout = new QVBoxLayout(guide);
  layout->addWidget(text);
  layout->addWidget(buttons);
  guide->resize(460, guide->sizeHint().height());
  guide->show();
  return guide;
}

}  // namespace tftpc
