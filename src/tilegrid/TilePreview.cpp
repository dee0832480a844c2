#include "tilegrid/TilePreview.h"

#include <QAudioOutput>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMediaPlayer>
#include <QMimeDatabase>
#include <QScreen>
#include <QStackedLayout>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

#include "core/FileURL.h"
#include "desktop/MimeIcon.h"
#include "desktop/NativeImageDecoder.h"

namespace qm {

TilePreview::TilePreview(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(tr("Preview"));
    stack_ = new QStackedLayout(this);
    image_ = new QLabel;
    image_->setAlignment(Qt::AlignCenter);
    video_ = new QVideoWidget;
    info_ = new QWidget;
    auto* infoLayout = new QVBoxLayout(info_);
    infoIcon_ = new QLabel;
    infoIcon_->setAlignment(Qt::AlignCenter);
    infoText_ = new QLabel;
    infoText_->setAlignment(Qt::AlignCenter);
    infoText_->setTextFormat(Qt::PlainText);
    infoText_->setWordWrap(true);
    infoLayout->addStretch();
    infoLayout->addWidget(infoIcon_);
    infoLayout->addWidget(infoText_);
    infoLayout->addStretch();
    empty_ = new QLabel(tr("No file selected"));
    empty_->setAlignment(Qt::AlignCenter);
    stack_->addWidget(image_);
    stack_->addWidget(video_);
    stack_->addWidget(info_);
    stack_->addWidget(empty_);
    resize(640, 480);
}

TilePreview::~TilePreview() {
    stopMedia();
}

QString TilePreview::mode() const {
    QWidget* w = stack_->currentWidget();
    if (w == image_) return QStringLiteral("image");
    if (w == video_) return QStringLiteral("media");
    if (w == info_) return QStringLiteral("info");
    return QStringLiteral("empty");
}

void TilePreview::stopMedia() {
    if (player_) {
        player_->stop();
        delete player_;
        player_ = nullptr;
        delete audio_;
        audio_ = nullptr;
    }
}

void TilePreview::showFile(const std::optional<std::string>& path, bool bringToFront) {
    file_ = path;
    stopMedia();
    if (!path) {
        stack_->setCurrentWidget(empty_);
        setWindowTitle(tr("Preview"));
    } else {
        const QString name = QString::fromLocal8Bit(path->data(), qsizetype(path->size()));
        QFileInfo info(name);
        setWindowTitle(info.fileName());
        const QMimeType type = QMimeDatabase().mimeTypeForFile(name);
        QSize screen = this->screen() ? this->screen()->availableSize() : QSize(1280, 800);
        QImageReader reader(name);
        reader.setAutoTransform(true);
        const auto native = NativeImageDecoder::kindOf(type);
        std::optional<QImage> decoded;
        if (native != NativeImageDecoder::Kind::none)
            decoded = NativeImageDecoder::decode(*path, native, screen);
        if (decoded) {
            image_->setPixmap(QPixmap::fromImage(*decoded));
            stack_->setCurrentWidget(image_);
            resize(decoded->size().boundedTo(screen).expandedTo(QSize(200, 150)));
        } else if (native == NativeImageDecoder::Kind::none &&
                   type.name().startsWith(QLatin1String("image/")) && reader.canRead()) {
            QSize size = reader.size();
            if (size.isValid() && (size.width() > screen.width() || size.height() > screen.height()))
                reader.setScaledSize(size.scaled(screen, Qt::KeepAspectRatio));
            QImage image = reader.read();
            image_->setPixmap(QPixmap::fromImage(image));
            stack_->setCurrentWidget(image_);
            resize(image.size().boundedTo(screen).expandedTo(QSize(200, 150)));
        } else if (type.name().startsWith(QLatin1String("video/")) ||
                   type.name().startsWith(QLatin1String("audio/"))) {
            player_ = new QMediaPlayer(this);
            audio_ = new QAudioOutput(this);
            player_->setAudioOutput(audio_);
            player_->setVideoOutput(video_);
            std::string url = fileURLForPath(*path);
            player_->setSource(QUrl::fromEncoded(QByteArray(url.data(), qsizetype(url.size()))));
            stack_->setCurrentWidget(video_);
            player_->play();
        } else {
            infoIcon_->setPixmap(QPixmap::fromImage(MimeIcon::forType(type.name()).scaled(
                128, 128, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
            QLocale locale;
            infoText_->setText(info.fileName() + QLatin1Char('\n') + locale.formattedDataSize(info.size()) +
                               QLatin1Char('\n') + locale.toString(info.lastModified(), QLocale::LongFormat));
            stack_->setCurrentWidget(info_);
        }
    }
    show();
    if (bringToFront) {
        raise();
        activateWindow();
    }
}

void TilePreview::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (arrowPressed) arrowPressed(event);
        return;
    case Qt::Key_Space:
    case Qt::Key_Escape: close(); return;
    default: QWidget::keyPressEvent(event);
    }
}

void TilePreview::closeEvent(QCloseEvent* event) {
    stopMedia();
    QWidget::closeEvent(event);
}

}  // namespace qm
