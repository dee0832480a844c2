#pragma once

#include <string>
#include <vector>

namespace qm {

// The XDG base directories. A variable that is unset, empty or relative is
// ignored, as the base directory rules say, and the default under $HOME used.
// $HOME when it is an absolute path, else the home of the user's entry in
// the password database (empty only when there is none).
std::string homeDirectory();
std::string xdgDataHome();    // $XDG_DATA_HOME or ~/.local/share
std::string xdgConfigHome();  // $XDG_CONFIG_HOME or ~/.config
std::string xdgCacheHome();   // $XDG_CACHE_HOME or ~/.cache
std::string xdgStateHome();   // $XDG_STATE_HOME or ~/.local/state
// $XDG_DATA_DIRS in order (absolute entries only), or /usr/local/share and /usr/share.
std::vector<std::string> xdgDataDirs();

}  // namespace qm
