#include "tilegrid/PlaceNames.h"

#include <QFile>

#include <absl/container/flat_hash_map.h>

#include <memory>

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "tilegrid/PlaceIndex.h"

static void initPlacesResource() {
    Q_INIT_RESOURCE(places);
}

namespace qm {

struct PlaceNames::State {
    absl::flat_hash_map<GPS, std::string> names;
    // Touched only on the queue's thread.
    std::optional<PlaceIndex> index;
    bool triedLoading = false;
    std::unique_ptr<SerialQueue> queue;
};

PlaceNames& PlaceNames::shared() {
    static PlaceNames* names = new PlaceNames;  // never destroyed: its queue may be busy at exit
    return *names;
}

PlaceNames::State& PlaceNames::state() const {
    static State* s = new State;
    return *s;
}

QByteArray PlaceNames::tableBytes() {
    initPlacesResource();
    QFile file(QStringLiteral(":/places/places.bin"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

std::optional<std::string> PlaceNames::cached(const GPS& gps) const {
    const State& s = state();
    auto it = s.names.find(gps);
    if (it == s.names.end()) return std::nullopt;
    return it->second;
}

void PlaceNames::lookup(const GPS& gps, std::function<void(const std::string&)> done) {
    State& s = state();
    if (auto name = cached(gps)) {
        if (done) done(*name);
        return;
    }
    if (!s.queue) s.queue = std::make_unique<SerialQueue>("places");
    State* st = &s;
    s.queue->async([st, gps, done = std::move(done)] {
        if (!st->triedLoading) {
            st->triedLoading = true;
            QByteArray bytes = tableBytes();
            st->index = PlaceIndex::load(std::string_view(bytes.constData(), size_t(bytes.size())));
        }
        std::optional<std::string> name;
        if (st->index)
            if (auto place = st->index->nearest(gps.latitude, gps.longitude)) name = PlaceIndex::displayName(*place);
        if (!name) return;
        mainQueue().post([st, gps, name = *name, done] {
            st->names[gps] = name;
            if (done) done(name);
        });
    });
}

}  // namespace qm
