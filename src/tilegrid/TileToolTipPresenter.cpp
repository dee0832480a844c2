#include "tilegrid/TileToolTipPresenter.h"

#include <QThreadPool>
#include <QTimer>
#include <QToolTip>
#include <QWidget>

#include <chrono>

#include "core/MainQueue.h"
#include "tilegrid/PlaceNames.h"
#include "tilegrid/TileContentsCache.h"
#include "tilegrid/TileToolTip.h"

namespace qm {

namespace {

// How long a tooltip waits for its file's size and date before it shows
// without them.
constexpr std::chrono::milliseconds kToolTipPatience{150};

// Reads the files' sizes and dates for tooltips: a thread or two, so that a
// hung mount stops only the tooltips of its own files.
QThreadPool& toolTipPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;  // never destroyed: a read may still hang at exit
        p->setMaxThreadCount(2);
        p->setExpiryTimeout(5000);
        return p;
    }();
    return *pool;
}

}  // namespace

struct TileToolTipPresenter::Request {
    TileFacts facts;
    QPoint globalPos;
    QRect area;
    bool didShow = false;
};

TileToolTipPresenter::TileToolTipPresenter(QWidget* viewport) : viewport_(viewport) {}

TileToolTipPresenter::~TileToolTipPresenter() = default;

void TileToolTipPresenter::hide() {
    current_.reset();
    QToolTip::hideText();
}

void TileToolTipPresenter::show(const Tree& tree, const QuickString& path, const QRect& area,
                                const QPoint& globalPos) {
    if (current_ && current_->facts.path == path.utf8() && current_->didShow) {
        // The pointer rests again on the same tile: what was read stands.
        current_->globalPos = globalPos;
        current_->area = area;
        show(current_);
        return;
    }

    auto request = std::make_shared<Request>();
    request->facts = TileToolTip::known(tree, path, TileContentsCache::shared().peek(path));
    request->globalPos = globalPos;
    request->area = area;
    current_ = request;
    // Only the presenter holds the request, so a live request means a live
    // presenter.
    std::weak_ptr<Request> weak = request;
    if (request->facts.gps) {
        PlaceNames& names = PlaceNames::shared();
        if (auto name = names.cached(*request->facts.gps)) {
            request->facts.placeName = *name;
        } else {
            names.lookup(*request->facts.gps, [this, weak](const std::string& name) {
                auto r = weak.lock();
                if (!r) return;
                r->facts.placeName = name;
                if (r->didShow) show(r);
            });
        }
    }
    // The size and date come from the file system, off this thread; what is
    // known already is shown meanwhile if they take long.
    toolTipPool().start([this, file = request->facts.path, weak] {
        if (weak.expired()) return;  // another tile's tooltip by now
        TileFacts read;
        read.path = file;
        TileToolTip::readFile(read);
        mainQueue().post([this, weak, read = std::move(read)] {
            auto r = weak.lock();
            if (!r) return;
            r->facts.didReadFile = read.didReadFile;
            r->facts.isDirectory = read.isDirectory;
            r->facts.size = read.size;
            r->facts.modified = read.modified;
            show(r);
        });
    });
    QTimer::singleShot(kToolTipPatience, viewport_, [this, weak] {
        auto r = weak.lock();
        if (r && !r->didShow) show(r);
    });
}

void TileToolTipPresenter::show(const std::shared_ptr<Request>& request) {
    if (request != current_) return;
    request->didShow = true;
    QToolTip::showText(request->globalPos, TileToolTip::text(request->facts), viewport_, request->area);
}

}  // namespace qm
