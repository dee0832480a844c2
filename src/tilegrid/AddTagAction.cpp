#include "tilegrid/AddTagAction.h"

#include <set>

#include "commands/TagChangeBuilder.h"
#include "commands/TagChangeCommand.h"
#include "commands/TagNameInput.h"
#include "core/TagFormat.h"
#include "library/Tree.h"

namespace qm {

std::string AddTagAction::message(const std::vector<QuickString>& selection) {
    if (selection.size() == 1) {
        std::string_view path = selection.front().utf8();
        size_t slash = path.rfind('/');
        std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
        return "Enter the tag to add to the file \"" + std::string(name) + "\":";
    }
    return "Enter the tag to add to the " + std::to_string(selection.size()) + " selected files:";
}

std::vector<std::string> AddTagAction::typedLevels(std::string_view text) {
    std::vector<std::string> out;
    while (true) {
        size_t slash = text.find('/');
        std::string level = TagNameInput::trimmed(text.substr(0, slash));
        if (slash == std::string_view::npos) {
            out.push_back(std::move(level));
            return out;
        }
        if (!level.empty()) out.push_back(std::move(level));
        text.remove_prefix(slash + 1);
    }
}

CommandPtr AddTagAction::command(const Tree& tree, const TagFormat& format,
                                 const std::vector<QuickString>& selection, const std::string& tag) {
    if (tag.empty()) return nullptr;
    const QuickString nodeName = format.nodeNameForTag(tag);
    TagChangeBuilder builder;
    for (const QuickString& path : selection)
        if (!tree.tagsFor(path).contains(nodeName)) builder.addTag(path, tag);
    std::vector<TagChange> changes = builder.build();
    if (changes.empty()) return nullptr;
    return std::make_shared<TagChangeCommand>(TagChangeKind::tag, TagChangeKind::tag, std::move(changes),
                                              std::set<std::string>{}, std::set<std::string>{});
}

}  // namespace qm
