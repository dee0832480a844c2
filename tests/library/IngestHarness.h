#pragma once

// Runs a SpotlightThread over an in-memory index the way the database does:
// on its own "SpotlightQueue", with every callback hopping to the main queue,
// where the harness keeps the delivered tree live by applying tag changes and
// positions to it.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "library/SpotlightThread.h"

namespace qm::test {

struct IngestHarness {
    struct GPSDelivery {
        SpotlightThread::Locations locations;
        std::optional<QuickStringSet> touched;
    };

    explicit IngestHarness(std::shared_ptr<FolderAccessProbe> probe = nullptr, bool launchedBefore = true)
        : format(std::make_shared<TagFormat>()), defaults(std::make_shared<MemoryUserDefaults>()) {
        if (launchedBefore) defaults->setValue("hasBeenLaunched", true);
        thread = std::make_shared<SpotlightThread>(format, index.tagQuery(), index.gpsQuery(), defaults,
                                                   std::move(probe));
        queue = std::make_shared<SerialQueue>("SpotlightQueue");
    }
    ~IngestHarness() {
        queue.reset();  // joins before the thread and the index go
        mainQueue().runPending();
    }

    // Starts and waits until both queries were executed.
    void start() {
        auto state = state_;
        SpotlightThread::Callbacks cb;
        cb.permissionState = [state](bool blocked) {
            mainQueue().post([state, blocked] { state->permission.push_back(blocked); });
        };
        cb.treeReady = [state](std::shared_ptr<Tree> tree) {
            mainQueue().post([state, tree] {
                state->tree = tree;
                ++state->treeDeliveries;
            });
        };
        cb.tagChanges = [state](SpotlightThread::TagChanges changes) {
            mainQueue().post([state, changes] {
                state->tagChanges.push_back(changes);
                if (state->tree)
                    for (const auto& [path, names] : changes)
                        state->tree->setTags(names, path);
            });
        };
        cb.gpsLocations = [state](SpotlightThread::Locations locations,
                                  std::optional<QuickStringSet> touched) {
            mainQueue().post([state, locations, touched] {
                state->gps.push_back(GPSDelivery{locations, touched});
                if (state->tree) state->tree->mapNode()->replacePaths(locations);
            });
        };
        std::weak_ptr<SerialQueue> weakQueue = queue;
        queue->async([t = thread, weakQueue, cb] { t->start(weakQueue, cb); });
        ASSERT_TRUE(mainQueue().runUntil(
            [&] { return index.tagQuery()->isExecuted() && index.gpsQuery()->isExecuted(); }, timeout));
    }

    // Lets everything queued on "SpotlightQueue" run and its deliveries land.
    void settle() {
        queue->sync([] {});
        mainQueue().runPending();
    }

    void finishTags() {
        index.tagQuery()->finish();
        settle();
        ASSERT_TRUE(state_->tree) << "no tree delivered";
    }
    void finishGPS() {
        index.gpsQuery()->finish();
        settle();
    }
    void tagUpdate(MetadataUpdate u) {
        index.tagQuery()->update(u);
        settle();
    }
    void gpsUpdate(MetadataUpdate u) {
        index.gpsQuery()->update(u);
        settle();
    }

    MetadataItem addTagged(const std::string& path, std::vector<std::string> tags) {
        return index.add({path, std::move(tags), std::nullopt, std::nullopt});
    }
    MetadataItem addPositioned(const std::string& path, std::optional<double> lat,
                               std::optional<double> lon) {
        return index.add({path, std::nullopt, lat, lon});
    }

    Tree& tree() { return *state_->tree; }
    bool hasTree() const { return state_->tree != nullptr; }
    int treeDeliveries() const { return state_->treeDeliveries; }
    const std::vector<SpotlightThread::TagChanges>& tagChanges() const { return state_->tagChanges; }
    const std::vector<GPSDelivery>& gpsDeliveries() const { return state_->gps; }
    const std::vector<bool>& permission() const { return state_->permission; }

    static constexpr std::chrono::milliseconds timeout{10000};

    MemoryMetadataIndex index;
    std::shared_ptr<const TagFormat> format;
    std::shared_ptr<MemoryUserDefaults> defaults;
    std::shared_ptr<SpotlightThread> thread;
    std::shared_ptr<SerialQueue> queue;

private:
    struct State {
        std::shared_ptr<Tree> tree;
        int treeDeliveries = 0;
        std::vector<SpotlightThread::TagChanges> tagChanges;
        std::vector<GPSDelivery> gps;
        std::vector<bool> permission;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace qm::test
