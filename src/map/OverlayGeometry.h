#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "map/MapCircle.h"
#include "map/OverlayProjection.h"

namespace qm {

class MultiGrid;

// The vertex data of one overlay frame: one quad (two triangles, 6 vertices
// of 4 floats: clip-space x, y and local x, y in units of the shape's radius)
// per cluster dot, then the placed circle, then the placement preview.
struct OverlayFrame {
    static constexpr size_t floatsPerVertex = 4;
    static constexpr size_t verticesPerQuad = 6;
    static constexpr size_t bytesPerQuad = floatsPerVertex * verticesPerQuad * sizeof(float);
    // The GPU buffer holds 4 MiB of whole quads.
    static constexpr size_t bufferBytes = 4194304;
    static constexpr size_t maxQuads = bufferBytes / bytesPerQuad;

    std::vector<float> vertices;
    size_t dotsEnd = 0;     // vertex index after the dots (D)
    size_t circleEnd = 0;   // after the circle (C)
    size_t previewEnd = 0;  // after the preview (E)
    bool hasPreview = false;

    size_t vertexCount() const { return vertices.size() / floatsPerVertex; }
    // Vertices that fit the buffer, whole quads in the order dots, circle, preview.
    size_t uploadedVertexCount() const;
};

// Builds frames for a view of a given size and contents scale (device pixels
// per point).
class OverlayGeometry {
public:
    // Radius in points of the preview and of a newly placed circle.
    static constexpr float mouseRadius = 100;

    // Radius in points of a dot for a (blended) count.
    static float dotRadius(float count);

    // Rebuilds `frame` in place (its storage is reused between frames). Dots
    // fill the buffer but for two quads, which the circle and preview keep.
    static void build(OverlayFrame& frame, const MultiGrid* grid, const OverlayProjection& projection,
                      float contentsScale, const std::optional<MapCircle>& circle,
                      const std::optional<ViewPointF>& preview);

    // Appends one quad centred at the view point with radius r and the margin.
    static void appendQuad(std::vector<float>& out, float x, float y, float r, float margin, float w,
                           float h);
};

}  // namespace qm
