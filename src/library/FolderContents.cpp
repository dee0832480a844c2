#include "library/FolderContents.h"

#include <sys/stat.h>

#include <string_view>

#include "core/DirectoryReader.h"

namespace qm {

bool isListedInFolders(std::string_view name, bool isDirectory, bool isInHomeFolder) {
    if (name.empty() || name.front() == '.') return false;
    if (isInHomeFolder && name == "Library") return false;
    return !(isDirectory && name.ends_with(".photoslibrary"));
}

std::optional<FolderContents> readFolderContents(const std::string& directory, bool isHomeFolder) {
    DirectoryReader dir = DirectoryReader::open(directory);
    if (!dir.isOpen()) return std::nullopt;

    FolderContents out;
    std::string path = directory;
    path += '/';
    const size_t prefix = path.size();
    while (const dirent* entry = dir.next()) {
        std::string_view name(entry->d_name);
        if (name.empty() || name.front() == '.') continue;  // before the stat a link would need

        bool isDirectory;
        if (entry->d_type == DT_DIR) {
            isDirectory = true;
        } else if (entry->d_type == DT_REG) {
            isDirectory = false;
        } else {
            // Links, unknown types and special files: ask what the entry
            // resolves to; gone or dangling means skipped.
            struct stat st;
            if (::fstatat(dir.fd(), entry->d_name, &st, 0) != 0) continue;
            isDirectory = S_ISDIR(st.st_mode);
        }

        if (!isListedInFolders(name, isDirectory, isHomeFolder)) continue;
        if (isDirectory) {
            out.subfolderNames.insert(QuickString::literal(name));
        } else {
            path.resize(prefix);
            path.append(name);
            out.files.try_emplace(QuickString::literal(path), PathMetadata{});
        }
    }
    // A listing that broke off half way would drop files that are there;
    // keep what the node had instead.
    if (dir.error() != 0) return std::nullopt;
    return out;
}

}  // namespace qm
