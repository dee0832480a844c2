#include "commands/TagChangeKind.h"

namespace qm {

namespace {

struct Texts {
    TagChangeKind inverse;
    const char* menu;
    const char* status;
    bool counts;
};

const Texts& texts(TagChangeKind kind) {
    static const Texts table[] = {
        {TagChangeKind::unstar, "Star ", "Starred ", true},
        {TagChangeKind::star, "Unstar ", "Unstarred ", true},
        {TagChangeKind::untag, "Tag ", "Tagged ", true},
        {TagChangeKind::tag, "Untag ", "Untagged ", true},
        {TagChangeKind::unmerge, "Merge Tag", "Merged Tag", false},
        {TagChangeKind::merge, "Unmerge Tag", "Unmerged Tag", false},
        {TagChangeKind::uncreate, "Create Tag", "Created Tag", false},
        {TagChangeKind::create, "Delete Tag", "Deleted Tag", false},
        {TagChangeKind::undelete, "Delete Tag", "Deleted Tag", false},
        {TagChangeKind::deleteTag, "Undelete Tag", "Undeleted Tag", false},
        {TagChangeKind::reparent, "Reparent Tag", "Reparented Tag", false},
        {TagChangeKind::rename, "Rename Tag", "Renamed Tag", false},
    };
    size_t i = static_cast<size_t>(kind);
    return table[i < std::size(table) ? i : static_cast<size_t>(TagChangeKind::tag)];
}

}  // namespace

TagChangeKind inverse(TagChangeKind kind) {
    return texts(kind).inverse;
}

std::string menuText(TagChangeKind kind, const std::string& countPhrase) {
    const Texts& t = texts(kind);
    return t.counts ? t.menu + countPhrase : std::string(t.menu);
}

std::string statusText(TagChangeKind kind, const std::string& countPhrase) {
    const Texts& t = texts(kind);
    return t.counts ? t.status + countPhrase : std::string(t.status);
}

std::string fileCountPhrase(size_t count) {
    return count == 1 ? std::string("File") : std::to_string(count) + " Files";
}

}  // namespace qm
