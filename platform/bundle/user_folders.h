// The user's folders on a freedesktop system.
#pragma once

#include <string>

namespace platform {

// The user's data home, where applications keep their support files (~/.local/share/APP):
// $XDG_DATA_HOME when it is an absolute path, else HOME/.local/share, HOME being $HOME when it
// is an absolute path, else the home folder of the password database. "" when there is none.
std::string UserDataHome();

}  // namespace platform
