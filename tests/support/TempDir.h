#pragma once

#include <filesystem>
#include <string>

namespace qm::test {

// A fresh directory under the system temp dir, removed (with its contents,
// permissions restored first) when the object goes.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "qm-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& rel) const { return path_ / rel; }

private:
    std::filesystem::path path_;
};

// Points HOME and the XDG base directories (config, cache, data, state,
// runtime) into `home`, creating them.
void useAsHome(const std::filesystem::path& home);

// The temporary HOME the test main made for this run (same as getenv("HOME")).
std::filesystem::path testHome();

// Writes bytes to a file, creating parent directories.
void writeFile(const std::filesystem::path& p, const std::string& bytes);
// A file's whole contents; empty when it cannot be read.
std::string readFile(const std::filesystem::path& p);

}  // namespace qm::test
