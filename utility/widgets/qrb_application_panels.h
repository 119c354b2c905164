// Panels (a QDialog) shown as a sheet on a window, or as a window of their own when there is
// none, through one set of calls; and the modal loop that runs them.
#pragma once

class QDialog;
class QWidget;

namespace QRBApplication {

// With a window: opens the panel as a sheet on it (window-modal). Without one: shows the panel
// as a window of its own, in front, with the keyboard. A null panel: nothing.
void openModalPanel(QDialog* panel, QWidget* window);

// With a window: ends the panel's sheet, then hides the panel. Without one: closes the panel.
// A panel that is not shown, or a null one, comes to no harm.
void closeModalPanel(QDialog* panel, QWidget* window);

// Opens the panel (a sheet on `window`, or a free-standing application-modal window without
// one), runs a modal loop until the panel's done(code) ends it, closes the panel, and returns
// that code; platform::NSRunAbortedResponse when there is no panel or it ended otherwise.
int runModalPanel(QDialog* panel, QWidget* window);

}  // namespace QRBApplication
