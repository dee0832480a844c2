#pragma once

#include <QCursor>
#include <QHash>

namespace qm {

// The overlay's resize and move cursors: a double-headed arrow turned to one
// of 32 angle buckets over half a turn, and a four-headed one (bucket 32).
// Built on first use for the screen's pixel ratio, rebuilt when it changes.
class ResizeCursors {
public:
    const QCursor& cursor(int bucket, qreal devicePixelRatio);
    qreal builtForRatio() const { return ratio_; }
    int cachedCount() const { return int(cache_.size()); }

private:
    QHash<int, QCursor> cache_;
    qreal ratio_ = 0;
};

}  // namespace qm
