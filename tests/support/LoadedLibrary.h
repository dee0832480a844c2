#pragma once

// The start of the benchmarks that build their library by hand: a DB over
// the in-memory index, loaded and done with its first folder pass.

#include <memory>
#include <string>

#include "library/DB.h"
#include "library/MemoryUserDefaults.h"
#include "support/MemoryMetadataIndex.h"

namespace qm::test {

// Lists nothing: the folders the benchmarks show need no access check.
class NoFolderProbe final : public FolderAccessProbe {
public:
    void listDirectory(const std::string&) override {}
};

// Creates the DB over `index` with `defaults` (fresh ones, past the first
// launch, when none), finishes the index's tag query with what it holds and
// waits until the library is loaded and its folder pass is done.
std::shared_ptr<DB> loadLibrary(MemoryMetadataIndex& index, std::shared_ptr<UserDefaults> defaults = nullptr,
                                std::shared_ptr<FolderAccessProbe> probe = std::make_shared<NoFolderProbe>());

}  // namespace qm::test
