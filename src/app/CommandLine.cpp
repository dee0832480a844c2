#include "app/CommandLine.h"

#include "platform/ListingEscape.h"

namespace qm {

std::variant<CommandLine, std::string> CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine out;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            out.places.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help") {
            out.help = true;
        } else if (argument == "--version") {
            out.version = true;
        } else if (argument == "--service") {
            out.service = true;
        } else {
            return "unknown option " + escapeListingField(argument);
        }
    }
    if (out.service && !out.places.empty()) return "--service takes no FOLDER or FILE";
    return out;
}

}  // namespace qm
