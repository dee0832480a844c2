#include "commands/TagChange.h"

#include "commands/CommandLog.h"

namespace qm {

std::string TagChange::debugDescription() const {
    return "TagChange(path: " + qm::quotedText(path) + ", toAdd: " + listDescription(tagsToAdd) +
           ", toRemove: " + listDescription(tagsToRemove) + ")";
}

}  // namespace qm
