#pragma once

#include <QString>
#include <QWidget>

#include <cstddef>
#include <optional>

#include "library/DB.h"

namespace qm {

// The content area's background: while the library loads it says so (and,
// during the first crawl of a home, how many files were seen so far); while a
// permission prompt holds loading it says why nothing shows. Once loaded it
// draws nothing, as the panes cover it.
class LoadingMessageView : public QWidget {
    Q_OBJECT
public:
    static constexpr int maximumTextWidth = 460;
    static constexpr int horizontalMargin = 100;

    explicit LoadingMessageView(QWidget* parent = nullptr);

    LoadingState loadingState() const { return loadingState_; }
    // Redraws when the value changed.
    void setLoadingState(LoadingState state);
    // Files and folders seen by the crawl so far; none when no crawl runs.
    void setProgress(std::optional<size_t> itemsSeen);

    // The text drawn now (empty once loaded).
    QString message() const;
    static QString messageFor(LoadingState state, std::optional<size_t> itemsSeen);
    // The rectangle the text is drawn in.
    QRect textRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    LoadingState loadingState_ = LoadingState::loaded;
    std::optional<size_t> itemsSeen_;
};

}  // namespace qm
