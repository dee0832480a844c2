// The overlay's vertex data: quads in clip space around view points, dot
// sizes by count, one dot per cluster of the grid, the circle across ±180 at
// the copy nearest the view's centre, and the upload limit of whole quads.
#include <gtest/gtest.h>

#include <cmath>

#include "geo/MultiGrid.h"
#include "map/OverlayGeometry.h"

namespace qm {
namespace {

// The centre (clip space) and half-size of quad q.
struct Quad {
    float cx, cy, hx, hy, e;
};
Quad quadAt(const OverlayFrame& f, size_t q) {
    const float* v = f.vertices.data() + q * OverlayFrame::verticesPerQuad * OverlayFrame::floatsPerVertex;
    // Vertices 0 and 4 are opposite corners.
    const float* a = v;
    const float* b = v + 4 * OverlayFrame::floatsPerVertex;
    return Quad{(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, std::abs(b[0] - a[0]) / 2, std::abs(b[1] - a[1]) / 2,
                std::abs(a[2])};
}

TEST(OverlayGeometry, QuadsDotsAndTheCircle) {
    // A quad at (200, 100) of radius 10 in a 400 × 200 view, margin 2.
    std::vector<float> out;
    OverlayGeometry::appendQuad(out, 200, 100, 10, 2, 400, 200);
    ASSERT_EQ(out.size(), 24u);
    OverlayFrame f;
    f.vertices = out;
    Quad q = quadAt(f, 0);
    EXPECT_FLOAT_EQ(q.cx, 0);
    EXPECT_FLOAT_EQ(q.cy, 0);
    EXPECT_FLOAT_EQ(q.hx, 12 * 2.f / 400);
    EXPECT_FLOAT_EQ(q.hy, 12 * 2.f / 200);
    EXPECT_FLOAT_EQ(q.e, 1.2f);
    // y grows upward in clip space: a point near the top is near +1.
    out.clear();
    OverlayGeometry::appendQuad(out, 0, 0, 1, 0, 400, 200);
    EXPECT_FLOAT_EQ((out[1] + out[17]) / 2, 1);
    EXPECT_FLOAT_EQ((out[0] + out[16]) / 2, -1);

    EXPECT_FLOAT_EQ(OverlayGeometry::dotRadius(1), 3);
    EXPECT_NEAR(OverlayGeometry::dotRadius(100), (3 * std::log(100.f) + 6) / 2, 1e-5);

    // A grid: one dot per reported cluster, then the circle, then the preview.
    MultiGrid grid;
    grid.insert(QuickString::bytes("/a"), 2.35, 48.85);
    grid.insert(QuickString::bytes("/b"), -74, 40.7);
    grid.insert(QuickString::bytes("/c"), 151.2, -33.9);
    OverlayProjection world(-180, 180, 85, -85, 1024, 1024);
    OverlayFrame frame;
    OverlayGeometry::build(frame, &grid, world, 2, MapCircle{0, 0, 10}, ViewPointF{5, 5});
    const size_t six = OverlayFrame::verticesPerQuad;
    EXPECT_EQ(frame.dotsEnd, 3 * six);
    EXPECT_EQ(frame.circleEnd, 4 * six);
    EXPECT_EQ(frame.previewEnd, 5 * six);
    EXPECT_TRUE(frame.hasPreview);
    // The dot for Paris sits where the projection puts Paris.
    ViewPointF paris = world.viewPointOf(2.35, 48.85);
    bool found = false;
    for (size_t i = 0; i < 3; ++i) {
        Quad d = quadAt(frame, i);
        if (std::abs(d.cx - (paris.x * 2 / 1024 - 1)) < 1e-4 && std::abs(d.cy - (1 - paris.y * 2 / 1024)) < 1e-4) {
            found = true;
            // Radius 3 points plus the margin 2 / s + 0.5 at s = 2.
            EXPECT_NEAR(d.hx * 1024 / 2, 3 + 1.5, 1e-3);
        }
    }
    EXPECT_TRUE(found);
    // The circle: 10° of longitude is 1024 × 10 / 360 points, margin 2 / s + 1.
    Quad c = quadAt(frame, 3);
    EXPECT_NEAR(c.hx * 1024 / 2, 1024 * 10 / 360.0 + 2, 1e-3);
    // Without a grid or circle only the preview remains.
    OverlayGeometry::build(frame, nullptr, world, 1, std::nullopt, ViewPointF{5, 5});
    EXPECT_EQ(frame.dotsEnd, 0u);
    EXPECT_EQ(frame.circleEnd, 0u);
    EXPECT_EQ(frame.previewEnd, six);
}

TEST(OverlayGeometry, CircleAcrossTheAntimeridianIsDrawnNearTheCentre) {
    // A view from 170° to 190° (−170°): its centre is 180°.
    OverlayProjection p(170, -170, 10, -10, 2000, 1000);
    OverlayFrame frame;
    for (double lon : {-179.0, 181.0, -539.0}) {
        OverlayGeometry::build(frame, nullptr, p, 1, MapCircle{lon, 0, 1}, std::nullopt);
        ASSERT_EQ(frame.circleEnd, 6u);
        Quad q = quadAt(frame, 0);
        // −179° is 1° east of the centre: x = 1100 points.
        EXPECT_NEAR((q.cx + 1) * 1000, 1100, 1e-2) << lon;
    }
    OverlayGeometry::build(frame, nullptr, p, 1, MapCircle{179, 0, 1}, std::nullopt);
    EXPECT_NEAR((quadAt(frame, 0).cx + 1) * 1000, 900, 1e-2);
}

TEST(OverlayGeometry, OnlyWholeQuadsThatFitAreUploaded) {
    EXPECT_EQ(OverlayFrame::maxQuads, 43690u);
    OverlayFrame frame;
    frame.vertices.resize((OverlayFrame::maxQuads + 3) * OverlayFrame::verticesPerQuad * OverlayFrame::floatsPerVertex);
    EXPECT_EQ(frame.uploadedVertexCount(), OverlayFrame::maxQuads * OverlayFrame::verticesPerQuad);
    EXPECT_LE(frame.uploadedVertexCount() * OverlayFrame::floatsPerVertex * sizeof(float), OverlayFrame::bufferBytes);
    frame.vertices.resize(12 * OverlayFrame::floatsPerVertex);
    EXPECT_EQ(frame.uploadedVertexCount(), 12u);

    // A world view with more clusters than the buffer holds keeps the circle
    // and the preview inside it.
    std::vector<MultiGrid::Cell::Element> points;
    for (int i = 0; i < 400; ++i)
        for (int j = 0; j < 200; ++j)
            points.push_back({QuickString::bytes(std::to_string(i) + "/" + std::to_string(j)),
                              GPS{.latitude = -70 + j * 0.7, .longitude = -179.5 + i * 0.9}});
    MultiGrid grid = MultiGrid::build(std::move(points));
    OverlayProjection world(-180, 180, 85, -85, 4000, 4000);
    size_t clusters = grid.clusters(ViewRect{-180, 180, -85, 85}, 4000).size();
    ASSERT_GT(clusters, OverlayFrame::maxQuads);
    OverlayGeometry::build(frame, &grid, world, 1, MapCircle{0, 0, 10}, ViewPointF{5, 5});
    EXPECT_EQ(frame.dotsEnd, (OverlayFrame::maxQuads - 2) * OverlayFrame::verticesPerQuad);
    EXPECT_EQ(frame.previewEnd, OverlayFrame::maxQuads * OverlayFrame::verticesPerQuad);
    EXPECT_EQ(frame.uploadedVertexCount(), frame.vertexCount());
}

}  // namespace
}  // namespace qm
