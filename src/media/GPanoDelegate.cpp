#include "media/GPanoDelegate.h"

#include <expat.h>
#include <charconv>
#include <memory>

namespace qm {

namespace {

constexpr std::string_view kDescription = "rdf:Description";

// A decimal integer with an optional leading sign, nothing else (no blanks).
std::optional<std::int64_t> parseInteger(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    const char* first = text->data();
    const char* last = first + text->size();
    if (*first == '+') {
        ++first;
        if (first == last || *first == '-') return std::nullopt;
    }
    std::int64_t value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value, 10);
    if (ec != std::errc() || ptr != last) return std::nullopt;
    return value;
}

void XMLCALL onStart(void* user, const XML_Char* name, const XML_Char** atts) {
    GPanoDelegate::Attributes attributes;
    for (const XML_Char** a = atts; a && a[0] && a[1]; a += 2)
        attributes.emplace_back(a[0], a[1]);
    static_cast<GPanoDelegate*>(user)->didStartElement(name, attributes);
}

void XMLCALL onCharacters(void* user, const XML_Char* text, int length) {
    if (length > 0) static_cast<GPanoDelegate*>(user)->foundCharacters(std::string_view(text, length));
}

void XMLCALL onEnd(void* user, const XML_Char* name) {
    static_cast<GPanoDelegate*>(user)->didEndElement(name);
}

}  // namespace

std::optional<std::string>* GPanoDelegate::fieldNamed(std::string_view n) {
    if (n == "GPano:ProjectionType") return &projectionType;
    if (n == "GPano:CroppedAreaLeftPixels") return &croppedAreaLeft;
    if (n == "GPano:CroppedAreaTopPixels") return &croppedAreaTop;
    if (n == "GPano:CroppedAreaImageWidthPixels") return &croppedAreaWidth;
    if (n == "GPano:CroppedAreaImageHeightPixels") return &croppedAreaHeight;
    if (n == "GPano:FullPanoWidthPixels") return &fullPanoWidth;
    if (n == "GPano:FullPanoHeightPixels") return &fullPanoHeight;
    return nullptr;
}

void GPanoDelegate::didStartElement(std::string_view name, const Attributes& attributes) {
    isCollectingText_ = false;
    if (name != kDescription) {
        latestElementName = std::string(name);
        return;
    }
    for (auto* field : {&projectionType, &croppedAreaLeft, &croppedAreaTop, &croppedAreaWidth,
                        &croppedAreaHeight, &fullPanoWidth, &fullPanoHeight})
        field->reset();
    for (const auto& [key, value] : attributes) {
        if (auto* field = fieldNamed(key)) *field = std::string(value);
    }
    ++inDescriptionCount;
    latestElementName = std::string(name);
}

void GPanoDelegate::foundCharacters(std::string_view text) {
    if (inDescriptionCount < 1 || !latestElementName) return;
    auto* field = fieldNamed(*latestElementName);
    if (!field) return;
    if (isCollectingText_ && *field) {
        field->value().append(text);
    } else {
        *field = std::string(text);
        isCollectingText_ = true;
    }
}

void GPanoDelegate::didEndElement(std::string_view name) {
    isCollectingText_ = false;
    if (name == kDescription && inDescriptionCount > 0) {
        --inDescriptionCount;
        if (inDescriptionCount == 0 && projectionType == "equirectangular") {
            auto left = parseInteger(croppedAreaLeft), top = parseInteger(croppedAreaTop);
            auto width = parseInteger(croppedAreaWidth), height = parseInteger(croppedAreaHeight);
            auto fullWidth = parseInteger(fullPanoWidth), fullHeight = parseInteger(fullPanoHeight);
            if (left && top && width && height && fullWidth && fullHeight)
                gpano = GPano{*left, *top, *width, *height, *fullWidth, *fullHeight};
        }
    }
    latestElementName.reset();
}

std::optional<GPano> GPanoDelegate::parse(std::string_view packet) {
    // Without namespace processing, so that names arrive as "GPano:..." as written.
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr),
                                                                        &XML_ParserFree);
    if (!parser) return std::nullopt;
    GPanoDelegate delegate;
    XML_SetUserData(parser.get(), &delegate);
    XML_SetElementHandler(parser.get(), onStart, onEnd);
    XML_SetCharacterDataHandler(parser.get(), onCharacters);
    // Packets come from JPEG segments, so they are far below int's range.
    XML_Parse(parser.get(), packet.data(), static_cast<int>(packet.size()), XML_TRUE);
    return delegate.gpano;
}

}  // namespace qm
