#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/PathMetadata.h"
#include "core/QuickString.h"

namespace qm {

class Tree;
struct TileContents;

// What a tile's tooltip says about its file.
struct TileFacts {
    std::string path;
    // From the file system, read off the main thread (a stat of a file on a
    // hung network mount must not stop the window).
    bool didReadFile = false;
    bool isDirectory = false;
    std::optional<uint64_t> size;
    std::optional<QDateTime> modified;
    // From the library: the tags as a person writes them, in natural order.
    std::vector<std::string> tags;
    std::optional<double> duration;  // seconds, once the metadata was read
    std::optional<GPS> gps;
    std::optional<std::string> placeName;
};

// The tooltip of a tile: the file's name, its folder, size, date, tags, and
// its duration or place where it has one.
class TileToolTip {
public:
    // What the library and the grid's cache know (no file access).
    static TileFacts known(const Tree& tree, const QuickString& path, const TileContents* contents);
    // Adds the size and modification date; blocks on the file system, so it
    // runs on a worker. A file that cannot be read leaves them absent.
    static void readFile(TileFacts& facts);
    // Rich text (every name escaped), one fact a line.
    static QString text(const TileFacts& facts, const QLocale& locale = QLocale());
};

}  // namespace qm
