#pragma once

#include <memory>

#include "commands/FileOperations.h"
#include "library/DB.h"
#include "library/TagStore.h"

namespace qm {

// What a command runs against: the library and the platform services that
// change files. The application owns one; every window's stack shares it.
struct CommandContext {
    std::shared_ptr<DB> db;
    std::shared_ptr<TagStore> tagStore;
    std::shared_ptr<FileOperations> fileOperations;
};

}  // namespace qm
