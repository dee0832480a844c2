#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/GPS.h"

namespace qm {

// The ISO 6709 location a movie (MP4, MOV, M4V, 3GP) carries in its
// metadata, read with libavformat. Damaged files yield none.
class MovieLocationReader {
public:
    static bool handles(std::string_view path);
    // The same for a media type ("video/mp4").
    static bool handlesType(std::string_view type);
    static std::optional<GPS> read(const std::string& path);
    // "+48.8577+002.2950+035.000/" and the degree-minute(-second) forms.
    static std::optional<GPS> parseISO6709(std::string_view text);
};

}  // namespace qm
