#pragma once

#include <string>
#include <variant>
#include <vector>

namespace qm {

// The arguments of the quillomere program. Qt's own options (-platform,
// -style...) are not taken: every argument is ours, so a file named like one
// of them still opens.
struct CommandLine {
    bool help = false;
    bool version = false;
    // Started by the session bus: wait for its request instead of opening a window.
    bool service = false;
    // Folders, files and file URIs, as given.
    std::vector<std::string> places;

    static constexpr const char* helpText =
        "Usage: quillomere [OPTION] [FOLDER | FILE...]\n"
        "Browses the files of the home folder by their tags (the extended attribute\n"
        "user.xdg.tags), with the folders, the colour labels and a map of the photos.\n"
        "\n"
        "With a FOLDER, opens a window on it under Folders; with FILEs, on the folder\n"
        "of the first one, with the FILEs in that folder selected. file:// URIs are\n"
        "taken as well. A folder or file outside the home folder, or hidden there, is\n"
        "refused with a line naming it. When Quillomere is already running, the\n"
        "request goes to it over the session bus (it opens a new window) and this\n"
        "start ends.\n"
        "\n"
        "  --service    wait for a request over the session bus instead of opening a\n"
        "               window (how the desktop starts it)\n"
        "  --version    print the version and exit\n"
        "  -h, --help   show this text\n"
        "\n"
        "Exit status: 0 on success, 1 when nothing could be opened or the running\n"
        "Quillomere could not be reached, 2 for a usage error.\n";

    // The parsed arguments (without the program name), or the message of a usage error.
    static std::variant<CommandLine, std::string> parse(const std::vector<std::string>& arguments);
};

}  // namespace qm
