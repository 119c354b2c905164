// Panels shown as sheets on a window or as windows of their own, and the modal loop that runs
// them. A panel is a QDialog.
#pragma once

class QDialog;
class QWidget;

namespace platform {

// The code a modal loop returns when it ended without one from its panel (the panel was hidden
// or destroyed some other way, or the application quit); the platform's value.
constexpr int NSRunAbortedResponse = -1001;

// Opens `sheet` window-modal on the window holding `window`: that window is blocked until the
// sheet ends, no other is. The panel is lent to the window (its parent and window flags change)
// until endSheet gives back what it had. False, and nothing done, when `window` is the panel or
// lies inside it.
bool beginSheet(QDialog& sheet, QWidget& window);

// Ends a sheet that beginSheet opened: the panel is hidden and gets back its parent, window flags
// and modality. A panel that is no sheet is left alone.
void endSheet(QDialog& sheet);

// Shows `window` in front of the others, restored if minimised, and gives it the keyboard.
void makeKeyAndOrderFront(QWidget& window);

// Runs a modal loop for `panel` until the panel's done(code) ends it, and returns that code. A
// hidden panel is shown first; a panel that is not already modal (a sheet is window-modal) is
// application-modal during the loop.
int runModalForWindow(QDialog& panel);

}  // namespace platform
