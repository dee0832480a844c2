#include "desktop/ExternalThumbnailer.h"

#include <QFile>
#include <QImageReader>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include <unistd.h>

namespace qm {
namespace fs = std::filesystem;
namespace {

// A folder only this run writes into, removed with everything in it.
class PrivateFolder {
public:
    PrivateFolder() {
        std::error_code ec;
        std::string pattern = (fs::temp_directory_path(ec) / "quillomere-thumbnailer-XXXXXX").string();
        if (ec) pattern = "/tmp/quillomere-thumbnailer-XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~PrivateFolder() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

const std::string& bwrapPath() {
    static const std::string path = LimitedProcess::findExecutable("bwrap");
    return path;
}

}  // namespace

bool ExternalThumbnailer::sandboxAvailable() {
    static std::once_flag once;
    static bool available = false;
    std::call_once(once, [] {
        if (bwrapPath().empty()) return;
        const std::string probe = LimitedProcess::findExecutable("true");
        PrivateFolder folder;
        if (probe.empty() || folder.path().empty()) return;
        DesktopThumbnailers::Input input{probe, {}, folder.path() + "/probe.png", 1};
        LimitedProcess::Limits limits;
        limits.timeout = std::chrono::seconds(5);
        available = LimitedProcess::run(DesktopThumbnailers::sandboxed(bwrapPath(), {probe}, input), limits)
                        .succeeded();
    });
    return available;
}

std::optional<QImage> ExternalThumbnailer::run(const std::string& path, const std::string& uri,
                                               const QString& mimeType, int size, DecodeFailure* failure) const {
    if (failure) *failure = DecodeFailure::file;
    const DesktopThumbnailers::Entry* entry = entries_.find(mimeType.toStdString());
    if (!entry || size <= 0) return std::nullopt;
    PrivateFolder folder;
    if (folder.path().empty()) {
        if (failure) *failure = DecodeFailure::transient;
        return std::nullopt;
    }
    DesktopThumbnailers::Input input{path, uri, folder.path() + "/thumbnail.png", size};
    std::vector<std::string> argv = DesktopThumbnailers::commandLine(*entry, input);
    // Resolved here: inside the sandbox only its own path is known to be there.
    argv[0] = LimitedProcess::findExecutable(argv[0]);
    if (argv[0].empty()) return std::nullopt;
    if (sandboxAvailable()) argv = DesktopThumbnailers::sandboxed(bwrapPath(), argv, input);
    const LimitedProcess::Result result = LimitedProcess::run(argv, limits_);
    if (!result.succeeded()) {
        if (failure && result.outcome == LimitedProcess::Outcome::failedToStart) *failure = DecodeFailure::transient;
        return std::nullopt;
    }

    DecodeLimits::applyToQt();
    QImageReader reader(QFile::decodeName(QByteArray::fromStdString(input.outputPath)));
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    // Programs asked for 256 may still draw larger.
    if (image.width() > size || image.height() > size)
        image = image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

}  // namespace qm
