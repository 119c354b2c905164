// Quitting another application of the calling user, as the user would.
#pragma once

#include <string_view>

namespace platform {

// Quits application `id` (a desktop-entry ID). Safely: each top-level X window of its
// processes is asked to close, as its close button asks (the application may ask to save its
// documents, or refuse). Not safely: each of its processes of the calling user gets the
// termination signal, through a pidfd opened while its identity is checked. Returns how many
// windows or processes were asked; nothing is reported beyond that (no X server, no such
// application, a process that ended meanwhile).
int QuitApplication(std::string_view id, bool safely);

}  // namespace platform
