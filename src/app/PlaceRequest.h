#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/AppWindowState.h"

namespace qm {

// Where a start asks the program to open: a folder of the Folders section,
// with some of its files selected.
struct Place {
    std::string folder;              // absolute, inside the home folder
    std::vector<std::string> files;  // directly in `folder`, in the order given
    friend bool operator==(const Place&, const Place&) = default;
};

// The places of a command line or of a request over the session bus: folders
// and files by path (relative ones taken from `workingDirectory`) or by file
// URI. The first accepted argument decides the folder: itself when it is a
// folder, else the one holding it; the files given that lie directly in that
// folder are selected. An argument is refused, with one line naming it, when
// it does not exist, lies outside the home folder (symbolic links are
// followed to tell), is hidden from the Folders section, is a URI of another
// kind than file, or cannot be shown in the chosen folder.
struct PlaceRequest {
    std::optional<Place> place;
    // The arguments taken, as absolute paths: resolving them again anywhere
    // gives the same place.
    std::vector<std::string> accepted;
    // One line per refused argument, starting with "quillomere: ".
    std::vector<std::string> refusals;

    static PlaceRequest resolve(const std::vector<std::string>& arguments, std::string_view workingDirectory);
};

// A window's state moved to the place: its folder current, the files
// selected (and the grid focused when there are some), the sidebar opened
// down to the folder; the rest kept from `base`.
AppWindowState stateForPlace(AppWindowState base, const Place& place);

}  // namespace qm
