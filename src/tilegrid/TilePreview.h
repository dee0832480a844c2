#pragma once

#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class QAudioOutput;
class QKeyEvent;
class QLabel;
class QMediaPlayer;
class QStackedLayout;
class QVideoWidget;

namespace qm {

// The preview panel Space opens: a window of its own showing an image at
// up to screen size, playing a movie or a sound, or naming anything else
// with its icon, size and date. Arrow keys go back to the grid, which moves
// its selection and so the previewed file.
class TilePreview : public QWidget {
    Q_OBJECT

public:
    explicit TilePreview(QWidget* parent = nullptr);
    ~TilePreview() override;

    // Shows the file, or an empty panel without one; in front and with the
    // keyboard when asked.
    void showFile(const std::optional<std::string>& path, bool bringToFront = true);
    const std::optional<std::string>& file() const { return file_; }
    // What the panel shows: "image", "media", "info" or "empty".
    QString mode() const;

    std::function<void(QKeyEvent*)> arrowPressed;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void stopMedia();

    std::optional<std::string> file_;
    QStackedLayout* stack_ = nullptr;
    QLabel* image_ = nullptr;
    QVideoWidget* video_ = nullptr;
    QWidget* info_ = nullptr;
    QLabel* infoIcon_ = nullptr;
    QLabel* infoText_ = nullptr;
    QLabel* empty_ = nullptr;
    QMediaPlayer* player_ = nullptr;
    QAudioOutput* audio_ = nullptr;
};

}  // namespace qm
