// The application's documents: its top-level windows, whose modified flag ("[*]" in the title)
// is the document's unsaved change.
#pragma once

#include <vector>

class QWidget;

namespace platform {

enum NSDocumentChangeType {
  NSChangeDone = 0,     // the document now has an unsaved change
  NSChangeUndone = 1,   // a flag keeps no count: left as it is
  NSChangeCleared = 2,  // the document is saved (or its changes are to be dropped)
};

// The open documents: the application's visible top-level windows, in Qt's order. Empty with
// no QApplication.
std::vector<QWidget*> OpenDocuments();

// Marks a document changed or unchanged.
void UpdateChangeCount(QWidget* document, NSDocumentChangeType change);

// The host quitting itself safely: every open document is asked to close, as its close button
// asks (it may ask to save, or refuse); the application quits once all have closed. True when
// it is quitting.
bool TerminateSafely();

// The host quitting at once, asking no document (clear their changes first).
void Terminate();

}  // namespace platform
