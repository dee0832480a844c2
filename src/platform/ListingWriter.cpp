#include "platform/ListingWriter.h"

#include <charconv>
#include <utility>

#include "platform/ListingEscape.h"

namespace qm {

namespace {

constexpr size_t flushSize = 1 << 16;

bool isUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const size_t n = utf8SequenceLength(bytes);
        if (n == 0) return false;
        bytes.remove_prefix(n);
    }
    return true;
}

void appendHex(std::string& out, std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    for (unsigned char b : bytes) {
        out += hex[b >> 4];
        out += hex[b & 0xF];
    }
}

void appendNumber(std::string& out, double value, int decimals) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    out.append(buf, ec == std::errc() ? end : buf);
}

}  // namespace

ListingWriter::ListingWriter(Mode mode, Sink sink) : mode_(mode), sink_(std::move(sink)) {
    if (mode_ == Mode::json) buffer_ += '[';
}

ListingWriter::~ListingWriter() {
    finish();
}

void ListingWriter::appendJsonString(std::string& out, std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    while (!bytes.empty()) {
        const unsigned char b = static_cast<unsigned char>(bytes.front());
        if (b == '"' || b == '\\') {
            out += '\\';
            out += char(b);
            bytes.remove_prefix(1);
        } else if (b < 0x20) {
            out += "\\u00";
            out += hex[b >> 4];
            out += hex[b & 0xF];
            bytes.remove_prefix(1);
        } else if (size_t n = utf8SequenceLength(bytes); n > 0) {
            out.append(bytes.data(), n);
            bytes.remove_prefix(n);
        } else {
            out += "\\ufffd";
            bytes.remove_prefix(1);
        }
    }
    out += '"';
}

void ListingWriter::beginObject() {
    if (any_) buffer_ += ',';
    buffer_ += "\n{";
    any_ = true;
}

void ListingWriter::appendJsonPath(std::string_view path) {
    buffer_ += "\"path\":";
    appendJsonString(buffer_, path);
    if (!isUtf8(path)) {
        buffer_ += ",\"pathHex\":\"";
        appendHex(buffer_, path);
        buffer_ += '"';
    }
}

void ListingWriter::flush() {
    if (!buffer_.empty()) sink_(buffer_);
    buffer_.clear();
}

void ListingWriter::endRecord() {
    if (mode_ == Mode::text) buffer_ += '\n';
    if (mode_ == Mode::json) buffer_ += '}';
    if (buffer_.size() >= flushSize) {
        sink_(buffer_);
        buffer_.clear();
    }
}

void ListingWriter::path(std::string_view path) {
    switch (mode_) {
        case Mode::text: buffer_ += escapeListingField(path); break;
        case Mode::nul: buffer_.append(path).push_back('\0'); break;
        case Mode::json:
            beginObject();
            appendJsonPath(path);
            break;
    }
    endRecord();
}

void ListingWriter::pathWithTags(std::string_view path, const std::vector<std::string>& tags) {
    switch (mode_) {
        case Mode::text:
            buffer_ += escapeListingField(path);
            for (const auto& t : tags)
                buffer_.append("\t").append(escapeListingField(t));
            break;
        case Mode::nul:
            buffer_.append(path).push_back('\0');
            for (const auto& t : tags)
                buffer_.append(t).push_back('\0');
            buffer_.push_back('\0');
            break;
        case Mode::json:
            beginObject();
            appendJsonPath(path);
            buffer_ += ",\"tags\":[";
            for (size_t i = 0; i < tags.size(); ++i) {
                if (i) buffer_ += ',';
                appendJsonString(buffer_, tags[i]);
            }
            buffer_ += ']';
            break;
    }
    endRecord();
}

void ListingWriter::tagCount(std::string_view tag, size_t count) {
    switch (mode_) {
        case Mode::text: buffer_.append(escapeListingField(tag)).append("\t").append(std::to_string(count)); break;
        case Mode::nul: buffer_.append(tag).push_back('\0'); break;
        case Mode::json:
            beginObject();
            buffer_ += "\"tag\":";
            appendJsonString(buffer_, tag);
            buffer_ += ",\"count\":" + std::to_string(count);
            break;
    }
    endRecord();
}

void ListingWriter::located(std::string_view path, double distanceMeters, double latitude, double longitude) {
    switch (mode_) {
        case Mode::text:
            buffer_.append(escapeListingField(path)).append("\t");
            appendNumber(buffer_, distanceMeters, 1);
            buffer_.append("\t").append(formatCoordinate(latitude)).append("\t").append(formatCoordinate(longitude));
            break;
        case Mode::nul: buffer_.append(path).push_back('\0'); break;
        case Mode::json:
            beginObject();
            appendJsonPath(path);
            buffer_ += ",\"distanceMeters\":";
            appendNumber(buffer_, distanceMeters, 1);
            buffer_ += ",\"latitude\":" + formatCoordinate(latitude);
            buffer_ += ",\"longitude\":" + formatCoordinate(longitude);
            break;
    }
    endRecord();
}

void ListingWriter::finish() {
    if (finished_) return;
    finished_ = true;
    if (mode_ == Mode::json) buffer_ += any_ ? "\n]\n" : "]\n";
    if (!buffer_.empty()) sink_(buffer_);
    buffer_.clear();
}

}  // namespace qm
