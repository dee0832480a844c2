#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// A stable identity of one indexed file that survives renames and moves, so a
// changed item with a new path tells the ingest which old path to clear. On
// Linux this is the device and inode of the file.
struct MetadataItem {
    uint64_t device = 0;
    uint64_t inode = 0;

    friend bool operator==(const MetadataItem&, const MetadataItem&) = default;
    template <typename H>
    friend H AbslHashValue(H h, const MetadataItem& item) {
        return H::combine(std::move(h), item.device, item.inode);
    }
};

// The items a live update reports, in the order the ingest handles them.
struct MetadataUpdate {
    std::vector<MetadataItem> added;
    std::vector<MetadataItem> changed;
    std::vector<MetadataItem> removed;
};

// What a query selects. A tag query yields every file with at least one user
// tag and caches each result's tag list; a GPS query yields every file with a
// latitude and caches latitude and longitude.
enum class MetadataQueryKind : uint8_t { tags = 0, gps = 1 };

// One live query of the metadata index.
//
// Life cycle: the owner sets the handlers, then calls execute() once (on the
// main thread). The query gathers its current results and calls onFinish
// once; from then on every change of the indexed files is reported to
// onUpdate. Handlers are always called on the main thread: an index working
// on threads of its own posts them to mainQueue(). A handler is never called
// from inside execute().
//
// Reading: the result list (resultCount, resultAt and the cached attributes
// at an index) is read between disableUpdates() and enableUpdates(); while
// updates are disabled the list must not change, and updates that happen
// meanwhile are reported after enableUpdates(). Every method may be called
// from any thread (the ingest reads on its own serial queue), so
// implementations synchronise internally. Nothing throws; a value that
// cannot be read is absent.
//
// Paths and tags are raw bytes as the file system and the tag store hold
// them; they need not be UTF-8.
class MetadataQuery {
public:
    struct Handlers {
        std::function<void()> onFinish;                       // gathering is complete
        std::function<void(const MetadataUpdate&)> onUpdate;  // a live change batch
    };

    virtual ~MetadataQuery() = default;

    virtual MetadataQueryKind kind() const = 0;
    virtual void setHandlers(Handlers handlers) = 0;
    // Starts gathering, with live updates wanted.
    virtual void execute() = 0;

    virtual void disableUpdates() = 0;
    virtual void enableUpdates() = 0;

    // ---- The result list (read with updates disabled) ----
    virtual size_t resultCount() const = 0;
    virtual MetadataItem resultAt(size_t index) const = 0;
    // Cached value-list attributes of the result at an index: the tag list
    // (tag queries; empty when unknown), latitude and longitude (GPS queries).
    virtual std::vector<std::string> tagsAt(size_t index) const = 0;
    virtual std::optional<double> latitudeAt(size_t index) const = 0;
    virtual std::optional<double> longitudeAt(size_t index) const = 0;

    // One result as readResults hands it out; the views live for the visit.
    struct ResultView {
        MetadataItem item;
        std::optional<std::string_view> path;  // as pathOf(item)
        const std::vector<std::string>& tags;  // as tagsAt(index)
        std::optional<double> latitude, longitude;
    };
    // Visits every result in list order without copying paths or tags, which
    // is what a million-file build needs. Read with updates disabled; the
    // visitor must not call into the query.
    virtual void readResults(const std::function<void(const ResultView&)>& visit) const = 0;

    // ---- An item's current attributes (also for items just removed) ----
    // None when the item has no readable path (for instance it is gone).
    virtual std::optional<std::string> pathOf(const MetadataItem& item) const = 0;
    // None when the attribute is missing: a deleted file, or one without tags.
    virtual std::optional<std::vector<std::string>> tagsOf(const MetadataItem& item) const = 0;
    virtual std::optional<double> latitudeOf(const MetadataItem& item) const = 0;
    virtual std::optional<double> longitudeOf(const MetadataItem& item) const = 0;
};

}  // namespace qm
