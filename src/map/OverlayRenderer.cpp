#include "map/OverlayRenderer.h"

#include <QFile>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>

#include "map/MapCanvas.h"
#include "map/OverlayView.h"

namespace qm {

namespace {

bool gpuAllowed = true;

QByteArray shaderSource(const char* name) {
    QFile f(QStringLiteral(":/map/%1.glsl").arg(QLatin1String(name)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

void OverlayRenderer::setGpuAllowed(bool allowed) {
    gpuAllowed = allowed;
}

bool OverlayRenderer::isGpuAvailable() {
    if (!gpuAllowed) return false;
    static const bool available = [] {
        QOpenGLContext context;
        if (!context.create()) return false;
        QOffscreenSurface surface;
        surface.setFormat(context.format());
        surface.create();
        if (!surface.isValid() || !context.makeCurrent(&surface)) return false;
        context.doneCurrent();
        return true;
    }();
    return available;
}

OverlayRenderer::OverlayRenderer(OverlayView* overlay, MapCanvas* canvas)
    : QOpenGLWidget(overlay), overlay_(overlay), canvas_(canvas) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(canvas_, &MapCanvas::frameChanged, this, qOverload<>(&QWidget::update));
}

OverlayRenderer::~OverlayRenderer() {
    // The base class destroys the context after this object is gone.
    if (context()) disconnect(context(), nullptr, this, nullptr);
    makeCurrent();
    release();
    doneCurrent();
}

void OverlayRenderer::release() {
    program_.reset();
    if (buffer_.isCreated()) buffer_.destroy();
    ready_ = false;
}

void OverlayRenderer::contextAboutToBeDestroyed() {
    makeCurrent();
    release();
    doneCurrent();
}

void OverlayRenderer::initializeGL() {
    initializeOpenGLFunctions();
    release();
    auto program = std::make_unique<QOpenGLShaderProgram>();
    program->setObjectName(QStringLiteral("mapCircle"));
    bool ok = program->addShaderFromSourceCode(QOpenGLShader::Vertex, shaderSource("mapCircleVertex")) &&
              program->addShaderFromSourceCode(QOpenGLShader::Fragment, shaderSource("mapCircleFragment"));
    program->bindAttributeLocation("vertex", 0);
    ok = ok && program->link();
    if (ok && buffer_.create()) {
        buffer_.setUsagePattern(QOpenGLBuffer::DynamicDraw);
        buffer_.bind();
        buffer_.allocate(int(OverlayFrame::bufferBytes));
        buffer_.release();
        program_ = std::move(program);
        ready_ = true;
    } else {
        release();  // the overlay stays empty; the map is still drawn
    }
    // A context lost with its window is made again: start over then.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &OverlayRenderer::contextAboutToBeDestroyed,
            Qt::UniqueConnection);
}

void OverlayRenderer::paintGL() {
    const qreal s = devicePixelRatioF();
    const QColor textBackground = palette().color(QPalette::Base);
    const float L = textBackground.lightnessF() >= 0.5 ? 1.f : 0.f;
    const float k = 1 - L;
    {
        QPainter painter(this);
        painter.drawImage(rect(), canvas_->frame());
        if (!ready_) return;
        // The overlay's own background: a light or dark wash at half alpha
        // over the map, so that the dots and the circle read on any map.
        painter.fillRect(rect(), QColor::fromRgbF(L, L, L, 0.5f));
    }
    overlay_->buildFrame(frame_);

    glViewport(0, 0, GLsizei(width() * s), GLsizei(height() * s));
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);

    program_->bind();
    buffer_.bind();
    program_->enableAttributeArray(0);
    program_->setAttributeBuffer(0, GL_FLOAT, 0, 4, int(OverlayFrame::floatsPerVertex * sizeof(float)));

    auto pass = [&](size_t first, size_t end, float r, float g, float b, float a, float p, float q) {
        if (end <= first) return;
        program_->setUniformValue("color", r, g, b, a);
        program_->setUniformValue("p", p);
        program_->setUniformValue("q", q);
        glDrawArrays(GL_TRIANGLES, GLint(first), GLsizei(end - first));
    };

    // Only whole quads that fit the buffer; no draw reaches past them.
    const size_t n = frame_.uploadedVertexCount();
    if (n > 0) buffer_.write(0, frame_.vertices.data(), int(n * OverlayFrame::floatsPerVertex * sizeof(float)));
    const size_t D = std::min(frame_.dotsEnd, n), C = std::min(frame_.circleEnd, n), E = std::min(frame_.previewEnd, n);
    const float half = float(s / 2), full = float(s);
    pass(0, D, 1 - 0.5f * L, 0.7f * k, 0.7f * k, 1, -1000000.f, half);
    pass(0, D, 0.7f + 0.3f * L, 0.1f + 0.4f * L, 0.1f + 0.4f * L, 1, -1000000.f, 0);
    if (!frame_.hasPreview) {
        pass(D, C, k, k, k, 0.1f, -1000000.f, half);
        pass(D, C, k, k, k, 1, 0, full);
    } else {
        pass(D, C, k, k, k, 0.05f, -1000000.f, half);
        pass(D, C, k, k, k, 0.25f, 0, full);
    }
    pass(C, E, k, k, k, 1, 0, full);

    program_->disableAttributeArray(0);
    buffer_.release();
    program_->release();
}

}  // namespace qm
