#pragma once

#include <string>

namespace qm {

// Lists a directory only to make the system ask the user for access to it
// early. On Linux nothing prompts and the listing returns at once; the shape
// stays so that the ingest reports a blocked start the same way everywhere,
// and tests can hold the probe to see the blocked state.
class FolderAccessProbe {
public:
    virtual ~FolderAccessProbe() = default;
    // Blocks while the system holds the listing; errors are ignored.
    virtual void listDirectory(const std::string& path) = 0;
};

// Lists with opendir/readdir and discards the names.
class PosixFolderAccessProbe final : public FolderAccessProbe {
public:
    void listDirectory(const std::string& path) override;
};

}  // namespace qm
