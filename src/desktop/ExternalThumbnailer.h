#pragma once

#include <QImage>
#include <QString>

#include <optional>
#include <string>

#include "desktop/DecodeLimits.h"
#include "platform/DesktopThumbnailers.h"
#include "platform/LimitedProcess.h"

namespace qm {

// Thumbnails drawn by the desktop's thumbnailer programs, for the types none of
// our decoders reads (documents, fonts, e-books, whatever is installed). Each run
// is sandboxed in bubblewrap where it is installed and usable, limited and timed
// out (LimitedProcess), and writes into a private folder from which the PNG is
// read back.
class ExternalThumbnailer {
public:
    ExternalThumbnailer() = default;
    ExternalThumbnailer(DesktopThumbnailers entries, LimitedProcess::Limits limits)
        : entries_(std::move(entries)), limits_(limits) {}

    bool handles(const QString& mimeType) const { return entries_.find(mimeType.toStdString()) != nullptr; }

    // The image the entry for mimeType draws of the file at `path` (absolute, with
    // its file URI), fitted within size x size; absent when the program fails, runs
    // out of time or writes no readable image.
    // A program that could not be started (or a private folder that could
    // not be made) is the moment's failure.
    std::optional<QImage> run(const std::string& path, const std::string& uri, const QString& mimeType,
                              int size, DecodeFailure* failure = nullptr) const;

    // Whether bubblewrap is installed and can make a sandbox here (it cannot in some
    // containers); tried once per process.
    static bool sandboxAvailable();

private:
    DesktopThumbnailers entries_;
    LimitedProcess::Limits limits_;
};

}  // namespace qm
