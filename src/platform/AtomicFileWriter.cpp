#include "platform/AtomicFileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/UniqueFd.h"

namespace qm {

namespace {

std::string failure(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

}  // namespace

std::string AtomicFileWriter::write(const std::string& path, std::string_view bytes) {
    const std::filesystem::path target(path);
    const std::string folder = target.parent_path().empty() ? std::string(".") : target.parent_path().string();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return "Cannot create " + folder + ": " + ec.message();

    std::string temporary = path + ".tmp-XXXXXX";
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    UniqueFd fd(mkostemp(name.data(), O_CLOEXEC));
    if (!fd) return failure("Cannot create a file in", folder, errno);
    temporary = name.data();

    auto abandon = [&](const std::string& what) {
        const int error = errno;
        fd.reset();
        ::unlink(temporary.c_str());
        return failure(what, temporary, error);
    };
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return abandon("Cannot write");
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd.get()) != 0) return abandon("Cannot flush");
    if (fd.close() != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return failure("Cannot close", temporary, error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return failure("Cannot replace", path, error);
    }
    if (const UniqueFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); folderFd)
        ::fsync(folderFd.get());  // the new contents are in place either way; this makes the rename durable
    return {};
}

void AtomicFileWriter::removeLeftovers(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    const std::string prefix = target.filename().string() + ".tmp-";
    const auto folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    const auto cutoff = fs::file_time_type::clock::now() - std::chrono::minutes(1);
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix) || name.size() != prefix.size() + 6) continue;
        std::error_code entryError;
        if (it->is_regular_file(entryError) && it->last_write_time(entryError) < cutoff && !entryError)
            fs::remove(it->path(), entryError);
    }
}

}  // namespace qm
