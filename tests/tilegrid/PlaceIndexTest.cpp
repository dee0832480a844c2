#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "tilegrid/PlaceIndex.h"
#include "tilegrid/PlaceNames.h"

namespace qm {
namespace {

// Great-circle distance by the haversine formula, in double precision: an
// oracle independent of the index's chord arithmetic.
double haversineKm(double lat1, double lon1, double lat2, double lon2) {
    auto rad = [](double d) { return d * std::numbers::pi / 180; };
    double dlat = rad(lat2 - lat1), dlon = rad(lon2 - lon1);
    double a = std::pow(std::sin(dlat / 2), 2) + std::cos(rad(lat1)) * std::cos(rad(lat2)) * std::pow(std::sin(dlon / 2), 2);
    return 2 * 6371.0088 * std::asin(std::min(1.0, std::sqrt(a)));
}

const PlaceIndex& bundled() {
    static const PlaceIndex index = [] {
        QByteArray bytes = PlaceNames::tableBytes();
        auto loaded = PlaceIndex::load(std::string_view(bytes.constData(), size_t(bytes.size())));
        EXPECT_TRUE(loaded);
        return loaded ? std::move(*loaded) : PlaceIndex();
    }();
    return index;
}

TEST(PlaceIndex, NamesKnownPlaces) {
    const PlaceIndex& index = bundled();
    ASSERT_GT(index.size(), 100000u);
    auto paris = index.nearest(48.8534, 2.3488);
    ASSERT_TRUE(paris);
    EXPECT_EQ(PlaceIndex::displayName(*paris), "Paris, Île-de-France, France");
    EXPECT_LT(paris->distanceKm, 1);
    // Near the Eiffel tower the table's nearest entry is a district of Paris.
    auto passy = index.nearest(48.8584, 2.2945);
    ASSERT_TRUE(passy);
    EXPECT_EQ(PlaceIndex::displayName(*passy), "Paris 16 Passy, Île-de-France, France");

    auto boston = index.nearest(42.3601, -71.0589);
    ASSERT_TRUE(boston);
    EXPECT_EQ(boston->country, "United States");
    EXPECT_EQ(boston->area, "Massachusetts");
    EXPECT_TRUE(PlaceIndex::displayName(*boston).ends_with(", Massachusetts, USA"));

    // The middle of the Atlantic has no place near enough to name.
    EXPECT_FALSE(index.nearest(30.0, -40.0));
    EXPECT_FALSE(index.nearest(std::nan(""), 0));
}

TEST(PlaceIndex, AgreesWithABruteForceScan) {
    const PlaceIndex& index = bundled();
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> la(-70, 75), lo(-180, 180);
    std::vector<std::pair<double, double>> queries{{-16.85, -179.99}, {-16.85, 179.99}, {65.0, -179.0},
                                                   {-89.99, 0.0}, {89.0, 10.0}, {48.8566, 2.3522}};
    for (int i = 0; i < 24; ++i) queries.emplace_back(la(rng), lo(rng));
    for (auto [lat, lon] : queries) {
        auto found = index.nearest(lat, lon, 20000);
        ASSERT_TRUE(found) << lat << "," << lon;
        double d = haversineKm(lat, lon, found->latitude, found->longitude);
        EXPECT_NEAR(d, found->distanceKm, 0.01);
        double best = 1e9;
        for (size_t i = 0; i < index.size(); ++i) {
            Place p = index.place(i);
            best = std::min(best, haversineKm(lat, lon, p.latitude, p.longitude));
        }
        // The tree works in single precision: ties within a few metres may go either way.
        EXPECT_LE(d, best + 0.005) << lat << "," << lon;
    }
}

TEST(PlaceIndex, CrossesTheAntimeridian) {
    const PlaceIndex& index = bundled();
    // Egvekinot lies at 179.118° west; from 179.9° east it is 44 km away
    // across the antimeridian, nearer than anything on the eastern side.
    auto west = index.nearest(66.32, 179.9);
    auto east = index.nearest(66.32, -179.9);
    ASSERT_TRUE(west && east);
    EXPECT_EQ(west->name, "Egvekinot");
    EXPECT_EQ(east->name, "Egvekinot");
    EXPECT_LT(west->distanceKm, 50);
    EXPECT_EQ(PlaceIndex::displayName(*west), "Egvekinot, Chukotka, Russia");
}

TEST(PlaceIndex, RefusesMalformedTables) {
    EXPECT_FALSE(PlaceIndex::load(""));
    EXPECT_FALSE(PlaceIndex::load("QMPLACE1"));
    QByteArray bytes = PlaceNames::tableBytes();
    std::string good(bytes.constData(), size_t(bytes.size()));
    EXPECT_FALSE(PlaceIndex::load(good.substr(0, good.size() - 1)));
    std::string bad = good;
    bad[8] = char(0xFF);  // a country count that does not fit
    EXPECT_FALSE(PlaceIndex::load(bad));
    EXPECT_EQ(PlaceIndex::displayName(Place{"Springfield", "Illinois", "United States"}), "Springfield, Illinois, USA");
    EXPECT_EQ(PlaceIndex::displayName(Place{"Vaduz", "", "Liechtenstein"}), "Vaduz, Liechtenstein");
}

}  // namespace
}  // namespace qm
