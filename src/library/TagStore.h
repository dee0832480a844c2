#pragma once

#include <string>
#include <vector>

namespace qm {

// Reads and writes the tag list stored with a file. Failures come back as
// values with a reason for the log; nothing is thrown.
class TagStore {
public:
    struct ReadResult {
        bool ok = false;
        std::vector<std::string> tags;  // in stored order, empty entries dropped
        std::string error;              // why it failed, when !ok
    };
    struct WriteResult {
        bool ok = false;
        std::string error;
    };

    virtual ~TagStore() = default;
    // A file without tags reads as ok with an empty list.
    [[nodiscard]] virtual ReadResult readTags(const std::string& path) = 0;
    // Stores the list sorted; an empty list removes the stored value.
    [[nodiscard]] virtual WriteResult writeTags(const std::string& path, const std::vector<std::string>& tags) = 0;
};

}  // namespace qm
