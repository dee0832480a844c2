// The map's visible area as history and the window archive keep it: set
// while the pane is hidden (another node current, a background tab), it is
// fitted into the size the map has when it shows, not into a hidden widget's
// placeholder size; and longitudes of any size take one step to bring round.

#include <gtest/gtest.h>

#include <QApplication>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

#include "MapHarness.h"
#include "map/MapCanvas.h"
#include "map/MapGeometry.h"
#include "map/OverlayProjection.h"

namespace qm::test {
namespace {

// How many times larger the shown area is than the one asked for: 1 when the
// map fits it exactly to its own shape (one side equal, the other larger).
double zoomedOutBy(const MapRect& shown, const MapRect& asked) {
    return std::min(shown.width / asked.width, shown.height / asked.height);
}

TEST(MapArea, AnAreaSetWhileHiddenIsFittedIntoTheSizeTheMapShowsAt) {
    MapHarness h;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* map = new MapView(h.window);
    layout->addWidget(map);
    window.resize(900, 600);
    map->hide();  // as on another node

    const MapRect rome{140000000, 97000000, 200000, 150000};
    map->setScrollState(MapScrollState{rome});
    // Read back while hidden (a write of the archive meanwhile), it is the same area.
    EXPECT_EQ(std::any_cast<MapScrollState>(map->scrollState()).rect, rome);

    window.show();
    map->show();
    QApplication::processEvents();
    ASSERT_EQ(map->canvas()->size(), QSize(900, 600));
    const MapRect shown = std::any_cast<MapScrollState>(map->scrollState()).rect;
    EXPECT_NEAR(shown.midX(), rome.midX(), 1);
    EXPECT_NEAR(shown.midY(), rome.midY(), 1);
    EXPECT_NEAR(zoomedOutBy(shown, rome), 1, 1e-6);
    EXPECT_GE(shown.width, rome.width * (1 - 1e-9));
    EXPECT_GE(shown.height, rome.height * (1 - 1e-9));

    // Once shown, a resize keeps the scale, as it always has.
    const double scale = map->canvas()->camera().scale();
    window.resize(700, 500);
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(map->canvas()->camera().scale(), scale);
}

TEST(MapArea, HugeLongitudesAreBroughtRoundInOneStep) {
    using mercator::nearestLongitude;
    for (double lon : {1e20, -1e20, 1e300, 7.5e15, 725.0, -900.0}) {
        for (double reference : {0.0, 179.0, -179.0}) {
            const double near = nearestLongitude(lon, reference);
            EXPECT_LE(std::abs(near - reference), 180) << lon << " near " << reference;
        }
    }
    EXPECT_EQ(nearestLongitude(725, 0), 5);
    EXPECT_EQ(nearestLongitude(-179, 179), 181);
    EXPECT_EQ(nearestLongitude(12.4964, 0), 12.4964);  // kept exactly
    // Not a number stays one; it must not loop either.
    EXPECT_TRUE(std::isnan(nearestLongitude(std::numeric_limits<double>::quiet_NaN(), 0)));

    // The overlay's projection of such a circle centre ends too.
    OverlayProjection p(-10, 10, 10, -10, 800, 800);
    EXPECT_TRUE(std::isfinite(p.viewPointOf(1e20, 0).x));
}

}  // namespace
}  // namespace qm::test
