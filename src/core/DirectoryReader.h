#pragma once

#include <dirent.h>

#include <string>

namespace qm {

// Lists one folder, entry by entry, and closes it when it goes. "." and ".."
// are left out; names are raw bytes. The folder's descriptor serves the *at
// calls (fstatat, openat) on the entries while the reader lives. Move-only.
class DirectoryReader {
public:
    // Opens `path` as a folder (read-only, close-on-exec), with `extraFlags`
    // such as O_NOFOLLOW added.
    static DirectoryReader open(const std::string& path, int extraFlags = 0);
    // Lists the folder open at `folder` from its start, through a descriptor
    // of its own: the caller keeps `folder` (whose offset the listing moves).
    static DirectoryReader duplicate(int folder);

    DirectoryReader(DirectoryReader&& other) noexcept;
    DirectoryReader& operator=(DirectoryReader&& other) noexcept;
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;
    ~DirectoryReader();

    bool isOpen() const noexcept { return dir_ != nullptr; }
    // The errno of a failed open, or of the read that broke the listing off
    // (a listing that ends early would silently drop entries); 0 otherwise.
    int error() const noexcept { return error_; }
    // The folder's descriptor, -1 when not open.
    int fd() const noexcept;

    // The next entry, valid until the next call; null at the end of the
    // listing or when reading fails (error() tells which).
    const dirent* next();

private:
    DirectoryReader(DIR* dir, int error) noexcept : dir_(dir), error_(error) {}
    static DirectoryReader adopt(int fd);

    DIR* dir_ = nullptr;
    int error_ = 0;
};

}  // namespace qm
