#pragma once

#include <QImage>
#include <QSize>

#include <optional>
#include <string>

#include "desktop/DecodeLimits.h"

namespace qm {

// A representative frame of a movie, decoded with libavformat/libavcodec and scaled
// with libswscale: the first frame at or after a tenth of the duration, skipping
// nearly black frames (fades, title cards) for a short stretch. The display aspect
// (sample aspect ratio) and rotation of the stream are applied. Reentrant.
class MovieFrameDecoder {
public:
    // Fitted within maxSize, never enlarged; absent when there is no decodable video.
    // `mimeType` is the file's type as already found; empty to take it from the name.
    static std::optional<QImage> decode(const std::string& path, QSize maxSize,
                                        const std::string& mimeType = {});
    // From an open descriptor, which is all that is read; `fileName` names
    // the type. Streams above DecodeLimits::maxMoviePixels are refused before
    // their codec opens.
    static std::optional<QImage> decode(int fd, const std::string& fileName, QSize maxSize,
                                        const std::string& mimeType, DecodeFailure* failure = nullptr);
};

}  // namespace qm
