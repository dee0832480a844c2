#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/TagNameInput.h"
#include "library/NodePath.h"

namespace qm {

class BrowserState;
class Tree;

// What the sidebar's context menu offers.
enum class SidebarAction : uint8_t {
    addNewFolder,
    renameCurrentFolder,
    deleteCurrentFolder,
    addNewTag,
    renameCurrentTag,
    deleteCurrentTag,
    mergeIntoParentTag,
    pinCurrentTag,
    unpinCurrentTag,
    showInFileManager,
    renameQuery,
    removeQuery,
    pinQuery,
    unpinQuery,
};

struct SidebarMenuItem {
    std::string title;
    SidebarAction action;
    friend bool operator==(const SidebarMenuItem&, const SidebarMenuItem&) = default;
};

// The editor a naming action opens: its message, its confirm button and the
// text it starts with.
struct SidebarPrompt {
    std::string message;
    std::string button;
    std::string initialText;
};

// The sidebar's editing actions on a window's current node, apart from the
// widgets: which menu items a node gets, what each prompt says, how typed
// names are checked, and which command each action runs. Every edit goes
// through the window's command stack, so it can be undone.
class SidebarActions {
public:
    static std::vector<SidebarMenuItem> menuFor(const Tree& tree, const NodePath& path);

    // None for the actions that need no name. `shownName` is the row's name
    // where it is not the node's own (a saved query's).
    static std::optional<SidebarPrompt> promptFor(SidebarAction action, const NodePath& path,
                                                  std::string_view shownName = {});

    // Runs a naming action with the typed text on the node at `path` (the
    // node the editor was opened for). Returns the message that refuses the
    // name (nothing changes then), or an empty string when the action ran or
    // there was nothing to do.
    static std::string submit(BrowserState& window, SidebarAction action, const NodePath& path,
                              std::string_view text);
    // The same on the window's current node.
    static std::string submit(BrowserState& window, SidebarAction action, std::string_view text);

    // Runs an action that needs no name on the window's current node.
    static void perform(BrowserState& window, SidebarAction action);

    // The files "Show in File Manager" reveals for a node: a folder itself;
    // for a tag, its files that share the folder of its first file (so one
    // file-manager window opens with them selected).
    static std::vector<std::string> revealPaths(const Tree& tree, const NodePath& path);

    // Leading and trailing white space and line breaks removed.
    static std::string trimmed(std::string_view text);

    static constexpr const char* tagSlashMessage = TagNameInput::slashMessage;
    static constexpr const char* tagCommaMessage = TagNameInput::commaMessage;
    static const char* const folderSlashMessage;
    static const char* const folderDotMessage;
};

}  // namespace qm
