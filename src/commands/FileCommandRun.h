#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "commands/Command.h"
#include "commands/CommandLog.h"

namespace qm {

// The run loop of the commands that handle files one by one (to the Trash,
// back from it, elsewhere): every item is tried, in order, whatever became of
// those before it. `step` performs one, logs its "[fs]" line and returns the
// item's entry in the inverse, or nothing when the item did not go. Returns
// the entries of the items that went.
template <typename Item, typename Step>
auto runEachItem(const std::vector<Item>& items, Step step) {
    using Entry = typename std::invoke_result_t<Step&, const Item&>::value_type;
    std::vector<Entry> done;
    for (const Item& item : items)
        if (std::optional<Entry> entry = step(item)) done.push_back(std::move(*entry));
    return done;
}

// The outcome of such a run: `done` of `total` items went. All of them: the
// command's status text; some: `doneText(done)` and how many could not be
// `participle` ("moved"); none: nothing changed, so there is nothing to undo.
inline CommandOutcome itemRunOutcome(const Command& command, CommandPtr inverse, size_t done, size_t total,
                                     const std::function<std::string(size_t)>& doneText,
                                     std::string_view participle) {
    std::string text =
        done >= total ? command.statusText() : partialOutcomeText(doneText(done), total - done, participle);
    return {std::move(inverse), std::move(text), done == 0};
}

}  // namespace qm
