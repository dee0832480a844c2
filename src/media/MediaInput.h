#pragma once

#include <memory>
#include <string>
#include <string_view>

struct AVFormatContext;

namespace qm {

struct MediaInputCloser {
    void operator()(AVFormatContext* context) const;
};
// An opened libavformat input; closes itself.
using MediaInput = std::unique_ptr<AVFormatContext, MediaInputCloser>;

// The one way this program opens a file with libavformat. Only the file protocol
// is allowed, so no name inside the file (a playlist, a concat list, a reference)
// makes it read from another protocol or the network; only a demuxer made for the
// type the file's name says may read it, so a file whose bytes claim another
// format is refused; libavformat's log is silenced. `path` is what is opened
// (it may be a /proc/self/fd name); `fileName` names the type, unless the caller
// already knows it as `mimeType`. Null when the file cannot be opened that way.
MediaInput openMediaInput(const std::string& path, std::string_view fileName,
                          std::string_view mimeType = {});
// The same, read through an open descriptor (the caller keeps it open while
// the input lives): the file that was checked is the one read, nothing is
// opened again by name, and the input opens no other file at all.
// `*error` gets libavformat's code when opening fails.
MediaInput openMediaInput(int fd, std::string_view fileName, std::string_view mimeType = {},
                          int* error = nullptr);

}  // namespace qm
