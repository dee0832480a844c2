#include "map/OverlayGeometry.h"

#include <algorithm>
#include <cmath>

#include "geo/MultiGrid.h"

namespace qm {

size_t OverlayFrame::uploadedVertexCount() const {
    return std::min(vertexCount(), maxQuads * verticesPerQuad);
}

float OverlayGeometry::dotRadius(float count) {
    return (3 * std::log(count) + 6) / 2;
}

void OverlayGeometry::appendQuad(std::vector<float>& out, float x, float y, float r, float margin, float w,
                                 float h) {
    float cx = x * 2 / w - 1, cy = 1 - y * 2 / h;
    float ex = (r + margin) * 2 / w, ey = (r + margin) * 2 / h;
    float e = 1 + margin / r;
    const float quad[24] = {
        cx - ex, cy + ey, -e, -e,  //
        cx + ex, cy + ey, e,  -e,  //
        cx - ex, cy - ey, -e, e,   //
        cx + ex, cy + ey, e,  -e,  //
        cx + ex, cy - ey, e,  e,   //
        cx - ex, cy - ey, -e, e,
    };
    out.insert(out.end(), quad, quad + 24);
}

void OverlayGeometry::build(OverlayFrame& frame, const MultiGrid* grid, const OverlayProjection& projection,
                            float contentsScale, const std::optional<MapCircle>& circle,
                            const std::optional<ViewPointF>& preview) {
    frame.vertices.clear();
    frame.hasPreview = false;
    const float w = static_cast<float>(projection.width()), h = static_cast<float>(projection.height());
    const float s = contentsScale > 0 ? contentsScale : 1;
    auto& out = frame.vertices;

    if (grid && !grid->empty()) {
        const float dotMargin = 2 / s + 0.5f;
        ViewRect view{projection.lonLeft(), projection.lonRight(), projection.latBottom(), projection.latTop()};
        // The buffer's last two quads are kept for the circle and the preview,
        // so that a crowded world view never hides the circle; dots beyond
        // that are left out.
        const size_t maxDotFloats = (OverlayFrame::maxQuads - 2) * OverlayFrame::verticesPerQuad *
                                    OverlayFrame::floatsPerVertex;
        grid->clusters(view, projection.width(), [&](const Cluster& c) {
            if (out.size() >= maxDotFloats) return;
            float t = static_cast<float>(c.t);
            float lon = static_cast<float>(c.longitude), lat = static_cast<float>(c.latitude);
            lon += t * (static_cast<float>(c.parentLongitude) - lon);
            lat += t * (static_cast<float>(c.parentLatitude) - lat);
            float count = static_cast<float>(c.count);
            count += t * (static_cast<float>(c.parentCount) - count);
            ViewPointF p = projection.viewPointOf(lon, lat);
            appendQuad(out, p.x, p.y, dotRadius(count), dotMargin, w, h);
        });
    }
    frame.dotsEnd = frame.vertexCount();

    const float shapeMargin = 2 / s + 1;
    if (circle) {
        ViewPointF p = projection.viewPointOf(circle->centerLongitude, circle->centerLatitude);
        float r = static_cast<float>(projection.pointsForLongitudeSpan(circle->radiusLongitude));
        if (r > 0 && std::isfinite(r)) appendQuad(out, p.x, p.y, r, shapeMargin, w, h);
    }
    frame.circleEnd = frame.vertexCount();

    if (preview) {
        appendQuad(out, preview->x, preview->y, mouseRadius, shapeMargin, w, h);
        frame.hasPreview = true;
    }
    frame.previewEnd = frame.vertexCount();
}

}  // namespace qm
