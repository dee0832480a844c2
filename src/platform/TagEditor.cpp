#include "platform/TagEditor.h"

#include <algorithm>

#include "platform/ListingEscape.h"

namespace qm {

// The store's reasons quote the path as it is; on a terminal or in a log a
// newline or stray byte in it would break the one-line message.
std::string TagEditor::describeFailure(const std::string& reason, const std::string& path) {
    const size_t at = path.empty() ? std::string::npos : reason.find(path);
    if (at == std::string::npos) return escapeListingField(path) + ": " + reason;
    return reason.substr(0, at) + escapeListingField(path) + reason.substr(at + path.size());
}

std::optional<std::string> TagEditor::invalidTagReason(std::string_view tag) {
    if (tag.empty()) return "a tag name cannot be empty";
    if (tag.find(',') != std::string_view::npos)
        return "the tag \"" + escapeListingField(tag) +
               "\" contains \",\", which separates tags in the tag attribute and cannot be stored";
    for (std::string_view rest = tag; !rest.empty();) {
        const size_t n = utf8SequenceLength(rest);
        if (n == 0)
            return "the tag \"" + escapeListingField(tag) +
                   "\" is not UTF-8 text, which the tag attribute holds and other programs expect";
        rest.remove_prefix(n);
    }
    return std::nullopt;
}

TagEditor::Outcome TagEditor::change(const std::string& path, const std::vector<std::string>& toAdd,
                                     const std::vector<std::string>& toRemove) {
    Outcome outcome;
    TagStore::ReadResult read = store_.readTags(path);
    if (!read.ok) {
        outcome.error = describeFailure(read.error, path);
        return outcome;
    }
    std::vector<std::string> tags = read.tags;
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    std::vector<std::string> next = tags;
    std::erase_if(next, [&](const std::string& t) {
        return std::find(toRemove.begin(), toRemove.end(), t) != toRemove.end();
    });
    for (const std::string& t : toAdd)
        if (std::find(next.begin(), next.end(), t) == next.end()) next.push_back(t);
    std::sort(next.begin(), next.end());
    if (next == tags) {
        outcome.ok = true;
        return outcome;
    }
    TagStore::WriteResult written = store_.writeTags(path, next);
    if (!written.ok) {
        outcome.error = describeFailure(written.error, path);
        return outcome;
    }
    outcome.ok = outcome.changed = true;
    return outcome;
}

}  // namespace qm
