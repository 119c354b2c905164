#include "utility/widgets/qrb_popup_button.h"

#include <QComboBox>
#include <QStringList>

namespace QRBPopupButton {

void replaceItemsWithTitles(QComboBox& button, const QStringList& titles) {
  button.clear();
  if (titles.isEmpty()) return;
  button.addItems(titles);
}

}  // namespace QRBPopupButton
