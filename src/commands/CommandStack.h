#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands/AlterPinCommand.h"
#include "commands/Command.h"
#include "commands/CommandItem.h"
#include "commands/DropInfo.h"
#include "commands/TagChangeKind.h"
#include "core/EventEmitter.h"
#include "library/Node.h"
#include "library/NodePath.h"

namespace qm {

class BrowserState;

// A window's undo and redo lists. Runs commands, moves the window to the
// node and selection of each step, logs "[run]" lines and announces each
// step's status text. Does nothing once its window is gone.
class CommandStack {
public:
    explicit CommandStack(std::weak_ptr<BrowserState> appWindow) : appWindow(std::move(appWindow)) {}

    const std::vector<CommandItem>& undoStack() const { return undoStack_; }  // last is next to undo
    const std::vector<CommandItem>& redoStack() const { return redoStack_; }  // last is next to redo
    std::weak_ptr<BrowserState> appWindow;
    EventEmitter<std::string> commandDidRun;

    void performCommand(const CommandPtr& command, std::optional<NodePath> node = std::nullopt,
                        std::optional<QuickStringSet> selection = std::nullopt);
    void undo();
    void redo();

    // Edit-menu titles: "Undo Tag 3 Files"; none when the list is empty.
    std::optional<std::string> undoMenuTitle() const;
    std::optional<std::string> redoMenuTitle() const;

    // A drop onto a sidebar node: a tag moved under another tag, files moved
    // or copied into a folder (with " copy" renames once confirmed; the drop
    // says which, DropInfo::operationFor) or tagged with the target's tag.
    // Whether the drop was accepted; `performed` tells the source what became
    // of its files: moved only when they left their place.
    bool performDrop(const NodePtr& target, const DropInfo& drop, bool renamingConfirmed,
                     DropOperation* performed = nullptr);
    // Reparent, merge or delete a sub-tag with its whole subtree.
    void performTagTreeChange(TagChangeKind kind, const NodePath& source,
                              const std::optional<NodePath>& destination = std::nullopt);
    void performPinChange(const QuickString& fullName, PinAction action);

    // The free name a dropped item takes in a folder: "name copy.ext", then
    // "name copy 2.ext", ... (`exists` says whether a name is taken).
    static std::string copyName(const std::string& name,
                                const std::function<bool(const std::string&)>& exists);

private:
    std::vector<CommandItem> undoStack_;
    std::vector<CommandItem> redoStack_;

    void step(std::vector<CommandItem>& from, std::vector<CommandItem>& to, const char* label);
};

}  // namespace qm
