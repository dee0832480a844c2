#pragma once

#include <QByteArray>
#include <QColor>

#include <cstddef>
#include <memory>
#include <vector>

class QPainter;

namespace qm {

class MapCamera;

// The offline world: Natural Earth land (filled), coastlines and country
// borders at two levels of detail, read once from the
// program's resources and kept as Web Mercator unit coordinates (u eastward
// from −180°, v southward from the top of the square, both 0..1).
class WorldBaseLayer {
public:
    enum class Detail { coarse, fine };  // 1:110m and 1:50m

    struct Colors {
        QColor sea, land, coast, border;
    };

    // The layer of the program's resources (made on first use; empty when the
    // resource is unreadable, which only a broken build can cause).
    static std::shared_ptr<const WorldBaseLayer> shared();
    // Parses the converted file; an empty layer for malformed data.
    static std::shared_ptr<WorldBaseLayer> fromData(const QByteArray& data);

    bool isEmpty() const { return levels_[0].land.lines.empty() && levels_[1].land.lines.empty(); }
    // Coarse below zoom level 3.5, where a country is a few dozen points wide.
    static Detail detailFor(double zoomLevel) { return zoomLevel < 3.5 ? Detail::coarse : Detail::fine; }
    size_t pointCount(Detail detail) const;
    size_t memoryBytes() const;

    static Colors colorsFor(bool dark);
    // Paints sea, land, coastlines and borders for what the camera shows,
    // with the world repeated east and west.
    void paint(QPainter& painter, const MapCamera& camera, const Colors& colors) const;

private:
    struct Line {
        uint32_t first = 0, count = 0;   // points in `points`
        float uMin, uMax, vMin, vMax;    // bounds, to skip what is out of view
    };
    struct Lines {
        std::vector<float> points;  // u, v pairs
        std::vector<Line> lines;
    };
    struct Level {
        Lines land, coast, borders;
    };

    const Level& level(Detail d) const { return levels_[d == Detail::coarse ? 0 : 1]; }

    Level levels_[2];
};

}  // namespace qm
