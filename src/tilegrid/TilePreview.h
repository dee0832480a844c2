#pragma once

#include <QUrl>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/UniqueFd.h"
#include "tilegrid/PreviewContent.h"

class QAudioOutput;
class QKeyEvent;
class QLabel;
class QMediaPlayer;
class QPushButton;
class QStackedLayout;
class QVideoWidget;

namespace qm {

// The preview panel Space opens: a window of its own showing an image at
// up to screen size, a movie or a sound (which start only when asked), or
// naming anything else with its icon, size and date. The file is read on a
// background thread (PreviewContent), so a large picture never holds up
// the window. Arrow keys go back to the grid, which moves its selection and
// so the previewed file.
class TilePreview : public QWidget {
    Q_OBJECT

public:
    explicit TilePreview(QWidget* parent = nullptr);
    ~TilePreview() override;

    // Shows the file, or an empty panel without one; in front and with the
    // keyboard when asked.
    void showFile(const std::optional<std::string>& path, bool bringToFront = true);
    const std::optional<std::string>& file() const { return file_; }
    // What the panel shows: "loading", "image", "media", "info" or "empty".
    QString mode() const;
    // The information pane's text (name, and size and date or why the file
    // cannot be displayed).
    QString infoText() const;
    bool isPlaying() const;
    QUrl mediaSource() const;
    // Starts or pauses the movie or sound shown.
    void togglePlayback();

    std::function<void(QKeyEvent*)> arrowPressed;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void present(PreviewContent content);
    void stopMedia();

    std::optional<std::string> file_;
    // The latest request; a load that finds itself overtaken is skipped.
    const std::shared_ptr<std::atomic<std::uint64_t>> generation_;
    UniqueFd mediaFile_;  // what the player reads, through /proc/self/fd
    QStackedLayout* stack_ = nullptr;
    QLabel* loading_ = nullptr;
    QLabel* image_ = nullptr;
    QWidget* media_ = nullptr;
    QVideoWidget* video_ = nullptr;
    QPushButton* play_ = nullptr;
    QWidget* info_ = nullptr;
    QLabel* infoIcon_ = nullptr;
    QLabel* infoText_ = nullptr;
    QLabel* empty_ = nullptr;
    QMediaPlayer* player_ = nullptr;
    QAudioOutput* audio_ = nullptr;
};

}  // namespace qm
