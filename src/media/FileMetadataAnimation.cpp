#include <algorithm>
#include <cstring>
#include <vector>

#include "media/FileMetadataReaders.h"

// Frame delays are read by walking the container's block and chunk headers; no pixel
// data is decoded, so a large animation costs little more than its headers.

namespace qm::media {

namespace {

// Sequential reads through a bounded buffer: GIF image data comes in sub-blocks of at
// most 255 bytes, far too small to read one by one.
class Cursor {
public:
    Cursor(ByteSource& source, std::uint64_t position)
        : source_(source), position_(position), buffer_(std::min<std::uint64_t>(source.size(), 64 * 1024)) {}

    bool byte(std::uint8_t& out) { return bytes(&out, 1); }

    bool bytes(void* into, std::size_t n) {
        auto* out = static_cast<std::uint8_t*>(into);
        while (n > 0) {
            if (!fill()) return false;
            std::size_t available = static_cast<std::size_t>(bufferStart_ + bufferLength_ - position_);
            std::size_t count = std::min(n, available);
            std::memcpy(out, buffer_.data() + (position_ - bufferStart_), count);
            out += count;
            n -= count;
            position_ += count;
        }
        return true;
    }

    bool skip(std::uint64_t n) {
        if (n > source_.size() - std::min(position_, source_.size())) return false;
        position_ += n;
        return true;
    }

private:
    // Makes at least one byte at position_ available.
    bool fill() {
        if (position_ >= bufferStart_ && position_ < bufferStart_ + bufferLength_) return true;
        if (buffer_.empty() || position_ >= source_.size()) return false;
        bufferStart_ = position_;
        bufferLength_ = source_.readAt(position_, buffer_.data(), buffer_.size());
        return bufferLength_ > 0;
    }

    ByteSource& source_;
    std::uint64_t position_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t bufferStart_ = 0;
    std::size_t bufferLength_ = 0;
};

bool skipSubBlocks(Cursor& c) {
    for (;;) {
        std::uint8_t length = 0;
        if (!c.byte(length)) return false;
        if (length == 0) return true;
        if (!c.skip(length)) return false;
    }
}

std::optional<double> animationDuration(int frames, double seconds) {
    if (frames < 2) return std::nullopt;
    return seconds;
}

}  // namespace

std::optional<double> gifDuration(ByteSource& source) {
    Cursor c(source, 6);
    std::uint8_t screen[7];
    if (!c.bytes(screen, sizeof screen)) return std::nullopt;
    if ((screen[4] & 0x80) && !c.skip(3u << ((screen[4] & 7) + 1))) return std::nullopt;
    int frames = 0;
    std::uint64_t centiseconds = 0;
    std::uint64_t pendingDelay = 0;  // from the graphic control extension before the next image
    for (;;) {
        std::uint8_t introducer = 0;
        if (!c.byte(introducer) || introducer == 0x3B) break;
        if (introducer == 0x21) {
            std::uint8_t label = 0;
            if (!c.byte(label)) break;
            if (label == 0xF9) {
                std::uint8_t length = 0;
                if (!c.byte(length)) break;
                std::uint8_t control[255];
                if (!c.bytes(control, length)) break;
                if (length >= 4) pendingDelay = le16(control + 1);
            }
            if (!skipSubBlocks(c)) break;
        } else if (introducer == 0x2C) {
            std::uint8_t descriptor[9];
            if (!c.bytes(descriptor, sizeof descriptor)) break;
            ++frames;
            centiseconds += pendingDelay;
            pendingDelay = 0;
            if ((descriptor[8] & 0x80) && !c.skip(3u << ((descriptor[8] & 7) + 1))) break;
            if (!c.skip(1) || !skipSubBlocks(c)) break;  // LZW minimum code size, then the data
        } else {
            break;  // not a GIF block: keep the frames seen so far
        }
    }
    return animationDuration(frames, static_cast<double>(centiseconds) / 100.0);
}

std::optional<double> pngDuration(ByteSource& source) {
    const std::uint64_t size = source.size();
    std::uint64_t position = 8;
    bool isAnimated = false;
    int frames = 0;
    double seconds = 0;
    while (position + 12 <= size) {
        std::uint8_t head[8];
        if (!source.readExact(position, head, sizeof head)) break;
        const std::uint32_t length = be32(head);
        if (length > size - position - 12) break;
        const std::uint8_t* type = head + 4;
        if (std::memcmp(type, "acTL", 4) == 0) {
            isAnimated = true;
        } else if (std::memcmp(type, "fcTL", 4) == 0 && length >= 26) {
            std::uint8_t delay[4];
            if (!source.readExact(position + 8 + 20, delay, sizeof delay)) break;
            const std::uint16_t numerator = be16(delay), denominator = be16(delay + 2);
            ++frames;
            seconds += static_cast<double>(numerator) / (denominator == 0 ? 100.0 : denominator);
        } else if (std::memcmp(type, "IDAT", 4) == 0 && !isAnimated) {
            return std::nullopt;  // acTL must precede the image data: a still PNG
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        }
        position += 12 + std::uint64_t(length);
    }
    if (!isAnimated) return std::nullopt;
    return animationDuration(frames, seconds);
}

std::optional<double> webpDuration(ByteSource& source) {
    std::uint8_t riff[12];
    if (!source.readExact(0, riff, sizeof riff)) return std::nullopt;
    const std::uint64_t end = std::min<std::uint64_t>(source.size(), 8 + std::uint64_t(le32(riff + 4)));
    std::uint64_t position = 12;
    int frames = 0;
    std::uint64_t milliseconds = 0;
    while (position + 8 <= end) {
        std::uint8_t head[8];
        if (!source.readExact(position, head, sizeof head)) break;
        const std::uint32_t length = le32(head + 4);
        if (length > end - position - 8) break;
        if (std::memcmp(head, "VP8X", 4) == 0) {
            std::uint8_t flags = 0;
            if (length < 1 || !source.readExact(position + 8, &flags, 1)) break;
            if (!(flags & 0x02)) return std::nullopt;  // no animation flag: a still image
        } else if (std::memcmp(head, "ANMF", 4) == 0 && length >= 16) {
            std::uint8_t duration[3];
            if (!source.readExact(position + 8 + 12, duration, sizeof duration)) break;
            ++frames;
            milliseconds += le24(duration);
        } else if (std::memcmp(head, "VP8 ", 4) == 0 || std::memcmp(head, "VP8L", 4) == 0) {
            return std::nullopt;  // a bare bitstream is a single frame
        }
        position += 8 + std::uint64_t(length) + (length & 1);
    }
    return animationDuration(frames, static_cast<double>(milliseconds) / 1000.0);
}

}  // namespace qm::media
