#include "tilegrid/TilePreview.h"

#include <QAudioOutput>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMediaPlayer>
#include <QPointer>
#include <QPushButton>
#include <QRunnable>
#include <QScreen>
#include <QStackedLayout>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QVideoWidget>

#include "desktop/MimeIcon.h"

namespace qm {

namespace {

// One reader for every panel: previews are looked at one at a time, and a
// load left behind by the arrow keys skips itself.
QThreadPool& loader() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;  // never destroyed: a load may still run at exit
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(-1);
        return p;
    }();
    return *pool;
}

}  // namespace

TilePreview::TilePreview(QWidget* parent)
    : QWidget(parent, Qt::Window), generation_(std::make_shared<std::atomic<std::uint64_t>>(0)) {
    setWindowTitle(tr("Preview"));
    stack_ = new QStackedLayout(this);
    loading_ = new QLabel;
    loading_->setAlignment(Qt::AlignCenter);
    image_ = new QLabel;
    image_->setAlignment(Qt::AlignCenter);
    media_ = new QWidget;
    auto* mediaLayout = new QVBoxLayout(media_);
    mediaLayout->setContentsMargins(0, 0, 0, 0);
    video_ = new QVideoWidget;
    play_ = new QPushButton(tr("Play"));
    play_->setObjectName(QStringLiteral("previewPlay"));
    play_->setFocusPolicy(Qt::NoFocus);  // the arrow keys stay with the panel
    connect(play_, &QPushButton::clicked, this, &TilePreview::togglePlayback);
    mediaLayout->addWidget(video_, 1);
    auto* controls = new QHBoxLayout;
    controls->addStretch();
    controls->addWidget(play_);
    controls->addStretch();
    mediaLayout->addLayout(controls);
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
    stack_->addWidget(loading_);
    stack_->addWidget(image_);
    stack_->addWidget(media_);
    stack_->addWidget(info_);
    stack_->addWidget(empty_);
    resize(640, 480);
}

TilePreview::~TilePreview() {
    generation_->fetch_add(1);  // a load still queued skips itself
    stopMedia();
}

QString TilePreview::mode() const {
    QWidget* w = stack_->currentWidget();
    if (w == loading_) return QStringLiteral("loading");
    if (w == image_) return QStringLiteral("image");
    if (w == media_) return QStringLiteral("media");
    if (w == info_) return QStringLiteral("info");
    return QStringLiteral("empty");
}

QString TilePreview::infoText() const {
    return infoText_->text();
}

bool TilePreview::isPlaying() const {
    return player_ && player_->playbackState() == QMediaPlayer::PlayingState;
}

QUrl TilePreview::mediaSource() const {
    return player_ ? player_->source() : QUrl();
}

void TilePreview::togglePlayback() {
    if (!player_) return;
    if (player_->playbackState() == QMediaPlayer::PlayingState) {
        player_->pause();
        play_->setText(tr("Play"));
    } else {
        player_->play();
        play_->setText(tr("Pause"));
    }
}

void TilePreview::stopMedia() {
    if (player_) {
        player_->stop();
        delete player_;
        player_ = nullptr;
        delete audio_;
        audio_ = nullptr;
    }
    mediaFile_.reset();
}

void TilePreview::showFile(const std::optional<std::string>& path, bool bringToFront) {
    file_ = path;
    stopMedia();
    const std::uint64_t generation = generation_->fetch_add(1) + 1;
    if (!path) {
        stack_->setCurrentWidget(empty_);
        setWindowTitle(tr("Preview"));
    } else {
        const QByteArray bytes = QByteArray::fromStdString(*path);
        setWindowTitle(QFile::decodeName(bytes.mid(bytes.lastIndexOf('/') + 1)));
        loading_->setText(tr("Loading…"));
        stack_->setCurrentWidget(loading_);
        const QSize box = screen() ? screen()->availableSize() : QSize(1280, 800);
        QPointer<TilePreview> self(this);
        std::weak_ptr<std::atomic<std::uint64_t>> latest = generation_;
        loader().start(QRunnable::create([self, latest, generation, file = *path, box] {
            auto current = latest.lock();
            if (!current || current->load() != generation) return;
            auto content = std::make_shared<PreviewContent>(PreviewContent::load(file, box));
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, latest, generation, content] {
                    auto now = latest.lock();
                    if (!self || !now || now->load() != generation) return;
                    self->present(std::move(*content));
                },
                Qt::QueuedConnection);
        }));
    }
    QWidget::show();
    if (bringToFront) {
        raise();
        activateWindow();
    }
}

void TilePreview::present(PreviewContent content) {
    const QSize screenSize = screen() ? screen()->availableSize() : QSize(1280, 800);
    switch (content.kind) {
    case PreviewContent::Kind::image:
        image_->setPixmap(QPixmap::fromImage(content.image));
        stack_->setCurrentWidget(image_);
        resize(content.image.size().boundedTo(screenSize).expandedTo(QSize(200, 150)));
        return;
    case PreviewContent::Kind::media:
        if (content.file && content.file->valid()) {
            mediaFile_ = std::move(*content.file);
            player_ = new QMediaPlayer(this);
            audio_ = new QAudioOutput(this);
            player_->setAudioOutput(audio_);
            player_->setVideoOutput(video_);
            // The very file that was checked, whatever bytes its name holds.
            player_->setSource(QUrl::fromLocalFile(QStringLiteral("/proc/self/fd/%1").arg(mediaFile_.get())));
            // Nothing is heard until asked for: a sound waits for Play, a movie
            // shows its first picture.
            if (!content.isSound) player_->pause();
            play_->setText(tr("Play"));
            video_->setVisible(!content.isSound);
            stack_->setCurrentWidget(media_);
            return;
        }
        break;
    case PreviewContent::Kind::info: break;
    }
    infoIcon_->setPixmap(QPixmap::fromImage(
        MimeIcon::forType(content.mimeType).scaled(128, 128, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    QLocale locale;
    QString text = content.name;
    if (content.cannotDisplay) text += QLatin1Char('\n') + tr("This file cannot be displayed.");
    if (content.size >= 0)
        text += QLatin1Char('\n') + locale.formattedDataSize(content.size) + QLatin1Char('\n') +
                locale.toString(content.modified, QLocale::LongFormat);
    infoText_->setText(text);
    stack_->setCurrentWidget(info_);
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
