#include "commands/TagChangeCommand.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "commands/CommandLog.h"
#include "core/Log.h"
#include "library/Tree.h"

namespace qm {

TagChangeCommand::TagChangeCommand(TagChangeKind originalKind_, TagChangeKind currentKind_,
                                   std::vector<TagChange> files_, std::set<std::string> nodesToTrim_,
                                   std::set<std::string> nodesToMake_)
    : originalKind(originalKind_),
      currentKind(currentKind_),
      files(std::move(files_)),
      nodesToTrim(std::move(nodesToTrim_)),
      nodesToMake(std::move(nodesToMake_)) {}

std::string TagChangeCommand::statusText() const {
    return qm::statusText(currentKind, fileCountPhrase(files.size()));
}

std::string TagChangeCommand::menuText() const {
    return qm::menuText(originalKind, fileCountPhrase(files.size()));
}

std::string TagChangeCommand::debugDescription() const {
    std::string out = "TagChangeCommand(files: [";
    for (size_t i = 0; i < files.size(); ++i) {
        if (i) out += '/';
        out += files[i].debugDescription();
    }
    out += "], nodesToTrim: " + listDescription(nodesToTrim) +
           ", nodesToMake: " + listDescription(nodesToMake) + ")";
    return out;
}

void TagChangeCommand::runTreePhase(DB& db) const {
    const TagFormat& format = *db.format;
    db.performBatch([&] {
        Tree& tree = db.mutableTree();
        // The nodes of made tags and all their ancestors survive removals.
        QuickStringSet keep;
        for (const std::string& tag : nodesToMake) {
            const QuickString nodeName = format.nodeNameForTag(tag);
            std::string_view name = nodeName.utf8();
            for (size_t slash = name.find('/'); slash != std::string_view::npos;
                 slash = name.find('/', slash + 1))
                keep.insert(QuickString::bytes(name.substr(0, slash)));
            keep.insert(QuickString::bytes(name));
        }
        for (const TagChange& change : files) {
            for (const std::string& tag : change.tagsToRemove)
                db.noteChange(tree.removeTag(format.nodeNameForTag(tag), change.path, keep));
            for (const std::string& tag : change.tagsToAdd)
                db.noteChange(tree.addTag(format.nodeNameForTag(tag), change.path));
        }
        for (const std::string& tag : nodesToTrim) {
            if (nodesToMake.contains(tag)) continue;
            db.noteChange(tree.rootNode()->pruneEmpty(format.nodeNameForTag(tag).components()));
        }
        for (const std::string& tag : nodesToMake)
            db.noteChange(tree.rootNode()->ensurePath(format.nodeNameForTag(tag).components()));
    });
}

std::vector<TagChange> TagChangeCommand::runFilePhase(CommandContext& context,
                                                      const std::vector<QuickStringSet>* treeTagsBefore) const {
    TagStore& store = *context.tagStore;
    std::vector<TagChange> done;
    done.reserve(files.size());
    // Files left as they were, with the tag nodes the tree should show.
    std::vector<std::pair<QuickString, QuickStringSet>> unchanged;
    const TagFormat& format = *context.db->format;
    auto nodeNames = [&](const std::vector<std::string>& tags) {
        QuickStringSet names;
        for (const std::string& tag : tags)
            names.insert(format.nodeNameForTag(tag));
        return names;
    };
    for (size_t i = 0; i < files.size(); ++i) {
        const TagChange& change = files[i];
        TagChange& actual = done.emplace_back(TagChange{change.path, {}, {}});
        std::string path(change.path.utf8());
        TagStore::ReadResult read = store.readTags(path);
        if (!read.ok) {
            // Nothing was written: the tree goes back to what it showed.
            if (treeTagsBefore) unchanged.emplace_back(change.path, (*treeTagsBefore)[i]);
            continue;
        }
        std::set<std::string> old(read.tags.begin(), read.tags.end());
        std::set<std::string> now = old;
        for (const std::string& tag : change.tagsToRemove)
            now.erase(tag);
        for (const std::string& tag : change.tagsToAdd)
            now.insert(tag);
        if (now == old) {
            logLine(LogArea::fs, "No change to tags for " + qm::quotedText(change.path) + " (was " +
                                     listDescription(old) + ")");
            continue;
        }
        // std::set orders by bytes, which for UTF-8 is code-point order.
        std::vector<std::string> sorted(now.begin(), now.end());
        logLine(LogArea::fs, "Set tags to " + listDescription(sorted) + " for " +
                                 qm::quotedText(change.path) + " (was " + listDescription(old) + ")");
        TagStore::WriteResult written = store.writeTags(path, sorted);
        if (!written.ok) {
            logLine(LogArea::fs,
                    "Failed to set tags for " + qm::quotedText(change.path) + ": " + written.error);
            TagStore::ReadResult again = store.readTags(path);
            unchanged.emplace_back(change.path, nodeNames(again.ok ? again.tags : read.tags));
            continue;
        }
        std::set_difference(now.begin(), now.end(), old.begin(), old.end(),
                            std::inserter(actual.tagsToAdd, actual.tagsToAdd.end()));
        std::set_difference(old.begin(), old.end(), now.begin(), now.end(),
                            std::inserter(actual.tagsToRemove, actual.tagsToRemove.end()));
    }
    if (unchanged.empty()) return done;
    // The tree already shows the new tags: put back what the disk holds.
    DB& db = *context.db;
    db.performBatch([&] {
        for (const auto& [path, names] : unchanged)
            db.noteChange(db.mutableTree().setTags(names, path));
    });
    return done;
}

std::shared_ptr<const TagChangeCommand> TagChangeCommand::makeInverse() const {
    std::vector<TagChange> swapped;
    swapped.reserve(files.size());
    for (const TagChange& change : files)
        swapped.push_back(TagChange{change.path, change.tagsToRemove, change.tagsToAdd});
    return std::make_shared<TagChangeCommand>(originalKind, inverse(currentKind), std::move(swapped),
                                              nodesToMake, nodesToTrim);
}

std::shared_ptr<const TagChangeCommand> TagChangeCommand::makeInverse(std::vector<TagChange> done) const {
    for (TagChange& change : done)
        std::swap(change.tagsToAdd, change.tagsToRemove);
    return std::make_shared<TagChangeCommand>(originalKind, inverse(currentKind), std::move(done), nodesToMake,
                                              nodesToTrim);
}

CommandOutcome TagChangeCommand::run(CommandContext& context) const {
    std::vector<QuickStringSet> treeTagsBefore;
    treeTagsBefore.reserve(files.size());
    for (const TagChange& change : files)
        treeTagsBefore.push_back(context.db->tree().tagsFor(change.path));
    runTreePhase(*context.db);
    return completed(makeInverse(runFilePhase(context, &treeTagsBefore)));
}

}  // namespace qm
