// The host application quitting itself, and the document types its bundle declares.
#pragma once

#include <string>
#include <vector>

class QObject;

namespace QRBApplication {

// One second from now, the host quits itself as the user would: every open window is asked to
// close (a window with unsaved changes may ask, or refuse), and the application quits once all
// have closed. `sender` is the object that asked (a menu action), unused.
void safeQuit(QObject* sender);

// Clears the unsaved-change flag of every open window, then quits the application at once, so
// no document asks to be saved.
void forceQuit(QObject* sender);

// For each entry of the main bundle's "CFBundleDocumentTypes", in order, all of its
// "CFBundleTypeExtensions", then all of its "CFBundleTypeOSTypes". A missing list adds nothing;
// only strings are taken.
std::vector<std::string> allDocumentTypes();

}  // namespace QRBApplication
