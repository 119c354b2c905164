// Table views: filling a column's pop-up cell, centring the check boxes of a table.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {
class TableView;
}

namespace QRBTableView {

// Adds `titles` to the pop-up cell of the column named `identifier`, after the items it already
// lists. Nothing happens when no column has that identifier or its cell is no pop-up cell.
void fillPopupButtonCell(platform::TableView& table, const QString& identifier,
                         const QStringList& titles);

// Draws the check box of every column whose cell is exactly a check-box cell alone and centred in
// its column (NSImageOnly). A cell of a class derived from it keeps its image position.
void centerCheckboxCells(platform::TableView& table);

}  // namespace QRBTableView
