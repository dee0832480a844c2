#pragma once

#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>

#include <memory>

#include "map/OverlayGeometry.h"

namespace qm {

class MapCanvas;
class OverlayView;

// Draws the map's frame and, over it, the overlay's dots and circles with
// the GLSL programs "mapCircleVertex" and "mapCircleFragment" from one
// preallocated 4 MiB vertex buffer. Made only where a GL context can be
// created; when its programs or buffer fail, it draws the map alone.
class OverlayRenderer : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT
public:
    OverlayRenderer(OverlayView* overlay, MapCanvas* canvas);
    ~OverlayRenderer() override;

    // Whether this process can make a GL context at all (checked once).
    static bool isGpuAvailable();
    // Turns the GPU path off for the whole process (before any pane is made).
    static void setGpuAllowed(bool allowed);
    bool isReady() const { return ready_; }
    const OverlayFrame& lastFrame() const { return frame_; }

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void release();
    void contextAboutToBeDestroyed();

    OverlayView* overlay_;
    MapCanvas* canvas_;
    std::unique_ptr<QOpenGLShaderProgram> program_;
    QOpenGLBuffer buffer_{QOpenGLBuffer::VertexBuffer};
    OverlayFrame frame_;
    bool ready_ = false;
};

}  // namespace qm
