#include "commands/TagChangeCommand.h"

#include "commands/CommandLog.h"
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
        Tree& tree = db.tree();
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
            db.noteChange(tree.rootNode->pruneEmpty(format.nodeNameForTag(tag).components()));
        }
        for (const std::string& tag : nodesToMake)
            db.noteChange(tree.rootNode->ensurePath(format.nodeNameForTag(tag).components()));
    });
}

void TagChangeCommand::runFilePhase(CommandContext& context) const {
    TagStore& store = *context.tagStore;
    // Files whose write failed, with what the disk still holds.
    std::vector<std::pair<QuickString, std::vector<std::string>>> unchanged;
    for (const TagChange& change : files) {
        std::string path(change.path.utf8());
        TagStore::ReadResult read = store.readTags(path);
        if (!read.ok) continue;
        std::set<std::string> old(read.tags.begin(), read.tags.end());
        std::set<std::string> now = old;
        for (const std::string& tag : change.tagsToRemove)
            now.erase(tag);
        for (const std::string& tag : change.tagsToAdd)
            now.insert(tag);
        if (now == old) {
            commandLog("[fs] No change to tags for " + qm::quotedText(change.path) + " (was " +
                       listDescription(old) + ")");
            continue;
        }
        // std::set orders by bytes, which for UTF-8 is code-point order.
        std::vector<std::string> sorted(now.begin(), now.end());
        commandLog("[fs] Set tags to " + listDescription(sorted) + " for " + qm::quotedText(change.path) +
                   " (was " + listDescription(old) + ")");
        TagStore::WriteResult written = store.writeTags(path, sorted);
        if (!written.ok) {
            commandLog("[fs] Failed to set tags for " + qm::quotedText(change.path) + ": " + written.error);
            TagStore::ReadResult again = store.readTags(path);
            unchanged.emplace_back(change.path, again.ok ? again.tags : read.tags);
        }
    }
    if (unchanged.empty()) return;
    // The tree already shows the new tags: put back what the disk holds.
    DB& db = *context.db;
    const TagFormat& format = *db.format;
    db.performBatch([&] {
        for (const auto& [path, tags] : unchanged) {
            QuickStringSet names;
            for (const std::string& tag : tags)
                names.insert(format.nodeNameForTag(tag));
            db.noteChange(db.tree().setTags(names, path));
        }
    });
}

std::shared_ptr<const TagChangeCommand> TagChangeCommand::makeInverse() const {
    std::vector<TagChange> swapped;
    swapped.reserve(files.size());
    for (const TagChange& change : files)
        swapped.push_back(TagChange{change.path, change.tagsToRemove, change.tagsToAdd});
    return std::make_shared<TagChangeCommand>(originalKind, inverse(currentKind), std::move(swapped),
                                              nodesToMake, nodesToTrim);
}

CommandPtr TagChangeCommand::run(CommandContext& context) const {
    runTreePhase(*context.db);
    runFilePhase(context);
    return makeInverse();
}

}  // namespace qm
