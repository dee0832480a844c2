#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "media/GPano.h"

namespace qm {

// Collects the GPano properties of one XMP packet while it is parsed. The names are
// the qualified names as written (no namespace processing); the values may be given
// as attributes of "rdf:Description" or as its child elements.
class GPanoDelegate {
public:
    using Attributes = std::vector<std::pair<std::string_view, std::string_view>>;

    std::optional<GPano> gpano;
    std::optional<std::string> latestElementName;
    std::optional<std::string> projectionType;
    std::optional<std::string> croppedAreaLeft;
    std::optional<std::string> croppedAreaTop;
    std::optional<std::string> croppedAreaWidth;
    std::optional<std::string> croppedAreaHeight;
    std::optional<std::string> fullPanoWidth;
    std::optional<std::string> fullPanoHeight;
    int inDescriptionCount = 0;

    void didStartElement(std::string_view name, const Attributes& attributes);
    void foundCharacters(std::string_view text);
    void didEndElement(std::string_view name);

    // Parses a whole packet with expat and returns the record found, if any. A parse
    // error keeps whatever was complete before it.
    static std::optional<GPano> parse(std::string_view packet);

private:
    std::optional<std::string>* fieldNamed(std::string_view qualifiedName);
    // Set when the current element's text has started, so that text the parser hands
    // over in pieces is joined instead of each piece replacing the last.
    bool isCollectingText_ = false;
};

}  // namespace qm
