#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The freedesktop thumbnail cache shared with other programs: PNGs named by the MD5
// of the file's URI under thumbnails/normal (128 px) and thumbnails/large (256 px),
// carrying Thumb::URI and Thumb::MTime so that a changed file's entry is recognised
// as stale. Failures are recorded under thumbnails/fail/<program>-<version>/ and
// are not retried until the file changes. Thread-safe: every call works on the file
// system only, and every write is a rename into place. Temporary files of ours
// that a cut-off write left in a folder are removed before the first write there.
class ThumbnailCache {
public:
    // What identifies one version of a source file in the cache.
    struct Source {
        std::string path;  // absolute, lexically normal
        std::string uri;   // file URI of path
        std::string key;   // MD5 of uri in lower-case hex
        std::int64_t mtime = 0;  // seconds
        std::int64_t size = 0;
    };

    // The cache under $XDG_CACHE_HOME/thumbnails ($HOME/.cache when unset).
    ThumbnailCache();
    explicit ThumbnailCache(std::filesystem::path root);

    const std::filesystem::path& root() const { return root_; }

    // file:// URI of an absolute path, escaped byte by byte as GLib's
    // g_filename_to_uri does, which most thumbnailers use to name entries.
    static std::string fileUri(std::string_view absolutePath);
    static std::string keyForUri(std::string_view uri);

    // Stats the file (following symlinks); absent when it is not a regular file.
    static std::optional<Source> source(const std::string& path);

    // A fresh entry fitting maxSize: from normal when 128 px suffice, else large.
    std::optional<QImage> find(const Source& source, QSize maxSize) const;
    // Writes a large entry (at most 256 px, 0600, atomically). False on failure.
    bool store(const Source& source, const QImage& thumbnail, const QString& mimeType) const;

    bool hasFailure(const Source& source) const;
    bool recordFailure(const Source& source) const;

    // Files inside the cache are never thumbnailed themselves.
    bool contains(const std::string& absolutePath) const;

    std::filesystem::path entryPath(std::string_view flavour, const Source& source) const;
    std::filesystem::path failurePath(const Source& source) const;

private:
    std::optional<QImage> readFresh(const std::filesystem::path& file, const Source& source) const;
    bool writeEntry(const std::filesystem::path& file, const QImage& image, const Source& source,
                    const QString& mimeType) const;

    std::filesystem::path root_;
};

}  // namespace qm
