// Pop-up buttons (a QComboBox): refilling the list of items.
#pragma once

#include <QStringList>

class QComboBox;

namespace QRBPopupButton {

// Removes every item of `button`, then adds `titles` in order; an empty list leaves the button
// empty. The first title becomes the current item.
void replaceItemsWithTitles(QComboBox& button, const QStringList& titles);

}  // namespace QRBPopupButton
