#include "geo/NearSearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "geo/GreatCircle.h"
#include "support/VectorDistance.h"

using namespace qm;

TEST(GreatCircle, DistancesAgreeWithVectorGeometry) {
    // A quarter of the equator, pole to pole, across the antimeridian, over a pole.
    const double quarter = GreatCircle::earthRadiusMeters * std::numbers::pi / 2;
    EXPECT_NEAR(GreatCircle::distanceMeters(0, 0, 0, 90), quarter, 1e-6);
    EXPECT_NEAR(GreatCircle::distanceMeters(90, 0, -90, 0), 2 * quarter, 1e-6);
    EXPECT_NEAR(GreatCircle::distanceMeters(0, 179.99, 0, -179.99), test::vectorDistanceMeters(0, 179.99, 0, -179.99), 1e-6);
    EXPECT_LT(GreatCircle::distanceMeters(0, 179.99, 0, -179.99), 2300);
    EXPECT_NEAR(GreatCircle::distanceMeters(89.99, 0, 89.99, 180), test::vectorDistanceMeters(89.99, 0, 89.99, 180), 1e-6);
    EXPECT_LT(GreatCircle::distanceMeters(89.99, 0, 89.99, 180), 2300);
    EXPECT_NEAR(GreatCircle::distanceMeters(90, 10, 90, -170), 0, 1e-6);
    EXPECT_NEAR(GreatCircle::distanceMeters(0, 0, 0, 180), 2 * quarter, 1e-6);

    std::mt19937 rng(11);
    std::uniform_real_distribution<double> lat(-90, 90), lon(-180, 180);
    for (int i = 0; i < 20000; ++i) {
        const double a = lat(rng), b = lon(rng), c = lat(rng), d = lon(rng);
        ASSERT_NEAR(GreatCircle::distanceMeters(a, b, c, d), test::vectorDistanceMeters(a, b, c, d), 0.01)
            << a << "," << b << " to " << c << "," << d;
    }
}

TEST(NearSearch, FindsExactlyTheBruteForceSetNearestFirst) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(0, 1);
    // Points clustered near the centres below (so every circle holds some),
    // plus points all over the globe, the poles and the antimeridian.
    struct Centre {
        double lat, lon, radius;
    };
    const std::vector<Centre> centres = {
        {48.8584, 2.2945, 2000}, {0, 180, 50000},     {0, -179.9, 30000}, {-16.5, 179.8, 80000},
        {90, 0, 200000},         {-89.5, 45, 150000}, {10, 20, 0},        {-33.9, 151.2, 1.2e7},
    };
    std::vector<std::tuple<std::string, double, double>> points;
    for (const Centre& c : centres) {
        // About three radii across (a degree is about 111 km).
        const double spread = std::clamp(c.radius * 3 / 111000, 0.01, 6.0);
        for (int i = 0; i < 300; ++i) {
            double la = std::clamp(c.lat + (unit(rng) - 0.5) * spread, -90.0, 90.0);
            double lo = c.lon + (unit(rng) - 0.5) * spread;
            if (lo > 180) lo -= 360;
            if (lo < -180) lo += 360;
            points.emplace_back("p" + std::to_string(points.size()), la, lo);
        }
    }
    for (int i = 0; i < 3000; ++i)
        points.emplace_back("g" + std::to_string(i), std::asin(2 * unit(rng) - 1) * 180 / std::numbers::pi,
                            unit(rng) * 360 - 180);
    points.emplace_back("exact", 10, 20);
    points.emplace_back("pole", 90, 123);
    points.emplace_back("pole twin", 90, -57);  // the same point, another name

    for (const Centre& c : centres) {
        NearSearch search(c.lat, c.lon, c.radius);
        for (const auto& [path, la, lo] : points)
            search.add(path, la, lo);
        const std::vector<NearSearch::Hit> hits = search.take();

        std::vector<std::string> expected, got;
        for (const auto& [path, la, lo] : points)
            if (test::vectorDistanceMeters(c.lat, c.lon, la, lo) <= c.radius) expected.push_back(path);
        for (const auto& h : hits)
            got.push_back(h.path);
        std::sort(expected.begin(), expected.end());
        std::vector<std::string> gotSorted = got;
        std::sort(gotSorted.begin(), gotSorted.end());
        // A point within a millimetre of the rim may fall either way between
        // two correct formulas; there is none in this data.
        EXPECT_EQ(gotSorted, expected) << c.lat << "," << c.lon;
        if (c.radius > 0 && c.lat != 10) {
            EXPECT_GT(expected.size(), 0u) << c.lat << "," << c.lon;
        }
        for (size_t i = 1; i < hits.size(); ++i)
            ASSERT_LE(hits[i - 1].distanceMeters, hits[i].distanceMeters);
        for (const auto& h : hits)
            EXPECT_NEAR(h.distanceMeters, test::vectorDistanceMeters(c.lat, c.lon, h.latitude, h.longitude), 0.01);
    }
    NearSearch tie(89, 0, 1000);
    tie.add("photo 10", 89, 0.001);
    tie.add("photo 9", 89, 0.001);
    tie.add("far", 0, 0);
    const auto hits = tie.take();
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].path, "photo 9");  // equal distances: natural order
}

TEST(GreatCircle, ParsesRadiiAndDegrees) {
    std::string error;
    EXPECT_EQ(GreatCircle::parseRadius("2km", error), 2000);
    EXPECT_EQ(GreatCircle::parseRadius("2 km", error), 2000);
    EXPECT_EQ(GreatCircle::parseRadius("0.5km", error), 500);
    EXPECT_EQ(GreatCircle::parseRadius("500m", error), 500);
    EXPECT_EQ(GreatCircle::parseRadius("0m", error), 0);
    for (const char* bad : {"2", "km", "-1km", "2 mi", "1e3m", "nanm", "2kmm", ""}) {
        error.clear();
        EXPECT_FALSE(GreatCircle::parseRadius(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_EQ(GreatCircle::parseDegrees("-33.9", 90, error), -33.9);
    EXPECT_EQ(GreatCircle::parseDegrees("+180", 180, error), 180);
    EXPECT_FALSE(GreatCircle::parseDegrees("90.5", 90, error));
    EXPECT_FALSE(GreatCircle::parseDegrees("12abc", 90, error));
    EXPECT_FALSE(GreatCircle::parseDegrees("inf", 180, error));
}
