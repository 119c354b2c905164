// A slow call (a back-end program asking for a password, a diagnosis waiting for answers) made
// on a thread of its own, so that the window keeps drawing and answering meanwhile.
#pragma once

#include <functional>

class QObject;

namespace tftpc {

// Runs `work` on a new thread; afterwards `done` runs on the thread of `receiver` (the window's),
// unless the receiver is gone by then. `work` must own or share whatever it touches: it may
// outlive the receiver.
void RunInBackground(QObject* receiver, std::function<void()> work, std::function<void()> done);

}  // namespace tftpc
