#pragma once

// A loaded library whose map node holds the given located files, a browser
// window over it and (on demand) its map pane, with online tiles off unless a
// test sets a tile template (tests never reach the real tile server).

#include <gtest/gtest.h>

#include <QApplication>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "commands/BrowserState.h"
#include "core/MainQueue.h"
#include "geo/AsyncMultiGrid.h"
#include "geo/MultiGrid.h"
#include "library/DB.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "library/TreeNames.h"
#include "map/MapResultsUpdater.h"
#include "map/MapView.h"

namespace qm::test {

struct Located {
    std::string path;
    double lon, lat;
};

struct MapHarness {
    static constexpr std::chrono::seconds timeout{20};
    MemoryMetadataIndex index;
    std::shared_ptr<MemoryUserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
    std::shared_ptr<DB> db;
    std::shared_ptr<BrowserState> window;
    std::unique_ptr<MapView> view;
    std::vector<Subscription> subscriptions;
    int gridChanges = 0;

    explicit MapHarness(const std::vector<Located>& files = {}) {
        defaults->setValue("hasBeenLaunched", true);
        defaults->setValue("mapTilesEnabled", false);
        db = DB::create(LibraryServices{index.tagQuery(), index.gpsQuery(), defaults, nullptr, nullptr});
        EXPECT_TRUE(mainQueue().runUntil([&] { return index.tagQuery()->isExecuted(); }, timeout));
        index.tagQuery()->finish();
        EXPECT_TRUE(mainQueue().runUntil([&] { return db->loadingState() == LoadingState::loaded; }, timeout));
        subscriptions.push_back(db->gridChanged.subscribe([this] { ++gridChanges; }));
        window = BrowserState::create(CommandContext{db, nullptr, nullptr});
        if (!files.empty()) setLocations(files);
    }
    ~MapHarness() {
        view.reset();
        window.reset();
        db.reset();
        mainQueue().runPending();
    }

    // Replaces the map node's files and waits for the grid to publish them.
    void setLocations(const std::vector<Located>& files) {
        Node::Paths paths;
        for (const Located& f : files) paths[QuickString::bytes(f.path)] = PathMetadata{GPS{.latitude = f.lat, .longitude = f.lon}};
        int before = gridChanges;
        db->setMapPaths(paths, std::nullopt);
        EXPECT_TRUE(mainQueue().runUntil([&] { return gridChanges > before; }, timeout));
    }

    MapView& makeView(int width = 800, int height = 600) {
        view = std::make_unique<MapView>(window);
        view->resize(width, height);
        view->show();
        QApplication::processEvents();
        return *view;
    }

    void showMapNode() { window->setCurrentNode(NodePath{mapSectionName()}); }

    // Pumps the main queue until the pane has no query running or waiting.
    bool settle() {
        return mainQueue().runUntil(
            [&] {
                auto& u = *view->resultsUpdater();
                return !u.isUpdatingInBackground() && !u.needsAnotherUpdate();
            },
            timeout);
    }
};

// Files scattered over the whole world and clustered near some places.
inline std::vector<Located> scatteredFiles(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> lon(-180, 180), lat(-89.9, 89.9), near(-2, 2);
    const Located places[] = {{"paris", 2.3522, 48.8566},  {"sydney", 151.2093, -33.8688},
                              {"fiji", 179.5, -17.7},      {"samoa", -179.5, -14},
                              {"north", 10, 89.5},         {"south", -60, -89.5}};
    std::vector<Located> out;
    for (size_t i = 0; i < count; ++i) {
        Located f{"/home/u/p" + std::to_string(i) + ".jpg", lon(rng), lat(rng)};
        if (i % 2 == 0) {
            const Located& p = places[(i / 2) % std::size(places)];
            f.lon = p.lon + near(rng);
            f.lat = std::clamp(p.lat + near(rng), -90.0, 90.0);
            if (f.lon > 180) f.lon -= 360;
            if (f.lon < -180) f.lon += 360;
        }
        out.push_back(f);
    }
    return out;
}

}  // namespace qm::test
