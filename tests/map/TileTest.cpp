// Online tiles against a tile server of our own on 127.0.0.1, started by the
// test: the User-Agent, at most two connections for all windows together,
// only the visible tiles, the disk cache with its expiry and its pruning, the
// cache when the server is gone, the base layer left visible by a 404 or a
// refused connection, the preferences applied to every shown map at once,
// and the responses refused (too large, not a tile, a decompression bomb).
// Plus the plain tile rules (visible tiles, URLs, addresses, expiry).
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest/QTest>

#include <map>
#include <set>

#include "MapHarness.h"
#include "map/MapCanvas.h"
#include "map/TileDiskCache.h"
#include "map/TileLoader.h"
#include "map/TilePolicy.h"
#include "map/WorldBaseLayer.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

// A minimal HTTP/1.1 server. By the path's first component:
//   /ok/z/x/y.png     a magenta PNG with the configured headers;
//   /slow/...         the same, a little later (requests overlap);
//   /hold/...         never answered;
//   /big/...          announces 5 MiB and sends a few bytes of it;
//   /stream/...       an endless chunked body (no length announced);
//   /file/<name>/...  the bytes of files[name];
// anything else is a 404. Keep-alive is served. It counts the connections
// open at once and the requests waiting for their answer at once.
class TileServer : public QObject {
public:
    QTcpServer server;
    std::vector<std::string> paths;
    std::set<std::string> userAgents;
    std::map<std::string, QByteArray> files;
    QByteArray cacheControl = "max-age=60";
    QByteArray extraHeaders;
    int openConnections = 0, maxOpenConnections = 0;
    int outstanding = 0, maxOutstanding = 0;

    TileServer() {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                maxOpenConnections = std::max(maxOpenConnections, ++openConnections);
                auto* buffer = new QByteArray;
                auto waiting = std::make_shared<int>(0);
                QObject::connect(s, &QTcpSocket::disconnected, this, [this, s, buffer, waiting] {
                    --openConnections;
                    outstanding -= *waiting;
                    *waiting = 0;
                    delete buffer;
                    s->deleteLater();
                });
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s, buffer, waiting] {
                    buffer->append(s->readAll());
                    qsizetype end;
                    while ((end = buffer->indexOf("\r\n\r\n")) >= 0) {
                        QByteArray head = buffer->left(end);
                        buffer->remove(0, end + 4);
                        ++*waiting;
                        maxOutstanding = std::max(maxOutstanding, ++outstanding);
                        answer(s, head, waiting);
                    }
                });
            }
        });
    }
    QString urlTemplate(const std::string& prefix) const {
        return QStringLiteral("http://127.0.0.1:%1/%2/{z}/{x}/{y}.png")
            .arg(server.serverPort())
            .arg(QString::fromStdString(prefix));
    }
    static QByteArray png() {
        QImage image(256, 256, QImage::Format_RGB32);
        image.fill(QColor(255, 0, 255));
        QByteArray bytes;
        QBuffer b(&bytes);
        b.open(QIODevice::WriteOnly);
        image.save(&b, "PNG");
        return bytes;
    }

private:
    void answer(QTcpSocket* s, const QByteArray& head, const std::shared_ptr<int>& waiting) {
        QList<QByteArray> lines = head.split('\n');
        QByteArray path = lines.value(0).split(' ').value(1);
        paths.push_back(path.toStdString());
        for (const QByteArray& l : lines)
            if (l.toLower().startsWith("user-agent:")) userAgents.insert(l.mid(11).trimmed().toStdString());
        auto done = [this, waiting] {
            if (*waiting == 0) return;  // the connection is gone, and counted so
            --*waiting;
            --outstanding;
        };
        if (path.startsWith("/hold/")) return;
        if (path.startsWith("/big/")) {
            s->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                     QByteArray::number(5 * 1024 * 1024) + "\r\n\r\n" + png().left(1000));
            return;
        }
        if (path.startsWith("/stream/")) {
            s->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nTransfer-Encoding: chunked\r\n\r\n");
            const QByteArray chunk = png().leftJustified(64 * 1024, '\0');
            for (int i = 0; i < 128; ++i)
                s->write(QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n");
            return;  // and never the last chunk
        }
        QByteArray body, status = "200 OK";
        if (path.startsWith("/ok/") || path.startsWith("/slow/")) {
            body = png();
        } else if (path.startsWith("/file/") && files.count(path.split('/').value(2).toStdString())) {
            body = files[path.split('/').value(2).toStdString()];
        } else {
            body = "missing";
            status = "404 Not Found";
        }
        QByteArray response = "HTTP/1.1 " + status + "\r\nContent-Type: image/png\r\n";
        if (!cacheControl.isEmpty()) response += "Cache-Control: " + cacheControl + "\r\n";
        response += extraHeaders + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        if (path.startsWith("/slow/")) {
            QPointer<QTcpSocket> socket(s);
            QTimer::singleShot(30, this, [socket, response, done] {
                done();
                if (socket && socket->state() == QAbstractSocket::ConnectedState) socket->write(response);
            });
            return;
        }
        done();
        s->write(response);
    }
};

// A file made by a real program, read back.
QByteArray madeBy(const std::string& command, const std::filesystem::path& file) {
    const auto [status, output] = runShell(command + " 2>&1");
    EXPECT_EQ(status, 0) << command << ": " << output;
    return QByteArray::fromStdString(readFile(file));
}

struct TileFixture : ::testing::Test {
    MapHarness h;
    std::unique_ptr<MapView> view;
    std::vector<std::shared_ptr<BrowserState>> windows;
    std::filesystem::path cacheHome =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation).toStdString();

    void setTiles(bool enabled, const QString& urlTemplate) {
        h.defaults->setValue("mapTilesEnabled", enabled);
        h.defaults->setValue("mapTileURLTemplate", urlTemplate.toStdString());
    }
    // A map pane of a window of its own, shown over the given region.
    std::unique_ptr<MapView> pane(CoordinateRegion region = CoordinateRegion{{0, 20}, 300, 1}) {
        windows.push_back(BrowserState::create(CommandContext{h.db, nullptr, nullptr}));
        auto v = std::make_unique<MapView>(windows.back());
        v->resize(1000, 700);
        v->canvas()->setRegion(region);
        v->show();
        return v;
    }
    MapView& open(const QString& urlTemplate) {
        setTiles(true, urlTemplate);
        view = pane();
        return *view;
    }
    static std::vector<TileKey> visible(const MapView& v) {
        std::vector<TileKey> out;
        for (const VisibleTile& t : TilePolicy::visibleTiles(v.canvas()->camera(), v.devicePixelRatioF()))
            out.push_back(t.key);
        return out;
    }
    std::vector<TileKey> visible() const { return visible(*view); }
    static bool allLoaded(const MapView& v) {
        for (const TileKey& k : visible(v))
            if (!v.canvas()->tileLoader()->tile(k)) return false;
        return true;
    }
    bool allLoaded() const { return allLoaded(*view); }
    // Nothing on its way: no request, no disk read or decoding, no pruning.
    static bool idle(const TileLoader& l) {
        return l.requestsInFlight() == 0 && l.backgroundTasks() == 0 && !l.isPruning();
    }
    bool idle() const {
        TileLoader* l = view->canvas()->tileLoader();
        return l->requestsSent() > 0 && idle(*l);
    }
    static QColor mapPixel(MapView& v, double lon, double lat) {
        double x, y;
        v.canvas()->camera().viewPointOf(Coordinate{lon, lat}, x, y);
        const QImage& frame = v.canvas()->frame();
        return QColor(frame.pixel(int(x * frame.devicePixelRatio()), int(y * frame.devicePixelRatio())));
    }
    QColor mapPixel(double lon, double lat) { return mapPixel(*view, lon, lat); }
    static std::string pathOf(const std::string& prefix, const TileKey& k) {
        return "/" + prefix + "/" + std::to_string(k.z) + "/" + std::to_string(k.x) + "/" +
               std::to_string(k.y) + ".png";
    }
};

TEST_F(TileFixture, FetchedWithTheUserAgentCachedAndServedWhenTheServerIsGone) {
    auto server = std::make_unique<TileServer>();
    const QString urlTemplate = server->urlTemplate("ok");
    MapView& v = open(urlTemplate);
    ASSERT_TRUE(v.canvas()->tileLoader()->isEnabled());
    EXPECT_TRUE(v.attribution()->isVisible());
    EXPECT_EQ(v.attribution()->text(), QString::fromUtf8("\u00A9 OpenStreetMap contributors"));
    QTRY_VERIFY_WITH_TIMEOUT(allLoaded(), 20000);
    const auto keys = visible();
    ASSERT_GE(keys.size(), 6u);

    // Only the visible tiles, each once, with our User-Agent, two connections at most.
    std::set<std::string> expected;
    for (const TileKey& k : keys)
        expected.insert(pathOf("ok", k));
    EXPECT_EQ(std::set<std::string>(server->paths.begin(), server->paths.end()), expected);
    EXPECT_EQ(server->paths.size(), expected.size());
    EXPECT_EQ(server->userAgents, std::set<std::string>{TileLoader::userAgent().toStdString()});
    EXPECT_TRUE(TileLoader::userAgent().startsWith("Quillomere/0."));
    EXPECT_LE(server->maxOpenConnections, 2);

    // Drawn over the base layer.
    EXPECT_EQ(mapPixel(-140, 0), QColor(255, 0, 255));

    // On disk under $XDG_CACHE_HOME/quillomere/tiles, kept at least a week
    // although the server said a minute, in folders of the user's alone.
    TileDiskCache disk(TileDiskCache::rootFor(cacheHome, urlTemplate.toStdString()));
    EXPECT_EQ(disk.root().parent_path(), cacheHome / "quillomere" / "tiles");
    for (const TileKey& k : keys) {
        auto entry = disk.read(k);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->bytes, TileServer::png().toStdString());
        EXPECT_GE(entry->expiry,
                  TilePolicy::Clock::now() + std::chrono::hours(24 * 7) - std::chrono::minutes(5));
    }
    namespace fs = std::filesystem;
    for (fs::path p = disk.pathOf(keys[0]).parent_path(); p != cacheHome / "quillomere"; p = p.parent_path())
        EXPECT_EQ(fs::status(p).permissions() & fs::perms::all, fs::perms::owner_all) << p;

    // The server goes away: a new pane shows the tiles from the cache, asking nothing.
    view.reset();
    server.reset();
    MapView& again = open(urlTemplate);
    QTRY_VERIFY_WITH_TIMEOUT(allLoaded(), 20000);
    EXPECT_EQ(again.canvas()->tileLoader()->requestsSent(), 0);
    EXPECT_EQ(mapPixel(-140, 0), QColor(255, 0, 255));
}

TEST_F(TileFixture, MissingTilesAndRefusedConnectionsLeaveTheBaseLayer) {
    const auto colors = WorldBaseLayer::colorsFor(false);
    TileServer server;
    MapView& v = open(server.urlTemplate("missing"));
    QTRY_VERIFY_WITH_TIMEOUT(idle() && v.canvas()->tileLoader()->requestsSent() >= int(visible().size()),
                             20000);
    EXPECT_GE(server.paths.size(), visible().size());
    for (const TileKey& k : visible())
        EXPECT_EQ(v.canvas()->tileLoader()->tile(k), nullptr);
    EXPECT_EQ(mapPixel(-140, 0), colors.sea);
    EXPECT_EQ(mapPixel(20, 15), colors.land);
    // Failed tiles are not asked for again while the view moves about.
    size_t asked = server.paths.size();
    v.canvas()->panBy(1, 0);
    v.canvas()->panBy(-1, 0);
    QTest::qWait(0);
    EXPECT_EQ(server.paths.size(), asked);

    // Nobody listens on the port.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    quint16 port = closed.serverPort();
    closed.close();
    view.reset();
    MapView& refused = open(QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(port));
    QTRY_VERIFY_WITH_TIMEOUT(
        idle() && refused.canvas()->tileLoader()->requestsSent() >= int(visible().size()), 20000);
    EXPECT_EQ(mapPixel(-140, 0), colors.sea);
    EXPECT_EQ(mapPixel(135, -25), colors.land);

    // Tiles off, or an address that is not http or https: no tiles, no attribution.
    for (const auto& [enabled, address] :
         std::vector<std::pair<bool, QString>>{{false, server.urlTemplate("ok")},
                                               {true, QStringLiteral("file:///etc/{z}/{x}/{y}.png")},
                                               {true, QStringLiteral("ftp://127.0.0.1/{z}/{x}/{y}.png")}}) {
        view.reset();
        setTiles(enabled, address);
        view = pane();
        EXPECT_FALSE(view->canvas()->tileLoader()->isEnabled()) << address.toStdString();
        EXPECT_FALSE(view->attribution()->isVisible());
        QTest::qWait(0);
        EXPECT_EQ(view->canvas()->tileLoader()->requestsSent(), 0);
    }
}

TEST_F(TileFixture, ChangingThePreferencesAppliesToEveryShownMapAtOnce) {
    TileServer server;
    const auto colors = WorldBaseLayer::colorsFor(false);
    setTiles(true, server.urlTemplate("hold"));
    auto first = pane();
    auto second = pane(CoordinateRegion{{100, -20}, 60, 1});
    TileLoader* loader = first->canvas()->tileLoader();
    ASSERT_EQ(loader, second->canvas()->tileLoader());
    // Two requests wait for their answer, the rest of both maps' tiles are queued.
    QTRY_VERIFY_WITH_TIMEOUT(server.outstanding == 2 && loader->requestsInFlight() == 2, 20000);

    // Off, as the preferences' check box does it: the requests in flight are
    // aborted (the server sees the connections closed) and none is sent after,
    // however the maps move; both show the base layer and no attribution.
    h.defaults->setValue("mapTilesEnabled", false);
    TileLoader::applyPreferences(*h.defaults);
    EXPECT_EQ(loader->requestsInFlight(), 0);
    EXPECT_FALSE(first->attribution()->isVisible());
    EXPECT_FALSE(second->attribution()->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections, 0, 20000);
    const size_t asked = server.paths.size();
    first->canvas()->panBy(200, 0);
    second->canvas()->zoomIn();
    QTest::qWait(300);
    EXPECT_EQ(server.paths.size(), asked);
    EXPECT_EQ(loader->requestsSent(), int(asked));
    EXPECT_EQ(mapPixel(*first, -140, 0), colors.sea);

    // On again with another address: both maps load its tiles without being
    // shown again, and show the attribution.
    setTiles(true, server.urlTemplate("ok"));
    TileLoader::applyPreferences(*h.defaults);
    EXPECT_TRUE(first->attribution()->isVisible());
    EXPECT_TRUE(second->attribution()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(allLoaded(*first) && allLoaded(*second), 20000);
    EXPECT_EQ(mapPixel(*first, -140, 0), QColor(255, 0, 255));
    EXPECT_EQ(mapPixel(*second, 100, -20), QColor(255, 0, 255));

    // A hidden map asks for nothing more; the shown one goes on.
    second->hide();
    const size_t before = server.paths.size();
    second->canvas()->panBy(500, 0);
    first->canvas()->panBy(500, 0);
    QTRY_VERIFY_WITH_TIMEOUT(allLoaded(*first) && idle(*loader), 20000);
    for (size_t i = before; i < server.paths.size(); ++i) {
        bool ofFirst = false;
        for (const TileKey& k : visible(*first))
            ofFirst |= server.paths[i] == pathOf("ok", k);
        EXPECT_TRUE(ofFirst) << server.paths[i];
    }
}

TEST_F(TileFixture, ThreeWindowsShareOneLoaderTwoConnectionsAndOneCache) {
    TileServer server;
    setTiles(true, server.urlTemplate("slow"));
    std::vector<std::unique_ptr<MapView>> panes;
    panes.push_back(pane());
    panes.push_back(pane());  // the same region: its tiles are the first one's
    panes.push_back(pane(CoordinateRegion{{-60, -30}, 20, 1}));
    TileLoader* loader = panes[0]->canvas()->tileLoader();
    for (auto& p : panes)
        EXPECT_EQ(p->canvas()->tileLoader(), loader);
    QTRY_VERIFY_WITH_TIMEOUT(allLoaded(*panes[0]) && allLoaded(*panes[1]) && allLoaded(*panes[2]), 20000);

    std::set<std::string> expected;
    for (auto& p : panes)
        for (const TileKey& k : visible(*p))
            expected.insert(pathOf("slow", k));
    EXPECT_EQ(std::set<std::string>(server.paths.begin(), server.paths.end()), expected);
    EXPECT_EQ(server.paths.size(), expected.size());  // each tile once for all three
    EXPECT_GT(expected.size(), visible(*panes[0]).size());
    EXPECT_LE(server.maxOpenConnections, 2);
    EXPECT_LE(server.maxOutstanding, 2);
    EXPECT_GE(server.maxOutstanding, 2);  // the two were used
}

TEST_F(TileFixture, OversizedUndecodableAndBombTilesAreRefusedAndNeverCached) {
    TempDir dir;
    const auto made = [&](const std::string& args, const std::string& name) {
        return madeBy("convert " + args + " " + shellQuoted((dir / name).string()), dir / name);
    };
    TileServer server;
    server.files["webp"] = made("-size 256x256 xc:'#ff00ff'", "t.webp");
    server.files["jpeg"] = made("-size 256x256 xc:'#ff00ff'", "t.jpg");
    server.files["gif"] = made("-size 256x256 xc:'#ff00ff'", "t.gif");
    server.files["wide"] = made("-size 2048x256 xc:'#ff00ff'", "wide.png");
    // A decompression bomb: 16 KiB of PNG declaring 4000 x 4000 pixels (64 MB decoded).
    const std::string bomb = (dir / "bomb.png").string();
    server.files["bomb"] = madeBy(
        "python3 -c \"import zlib,struct,sys\n"
        "w=h=4000\n"
        "def chunk(t,d): return struct.pack('>I',len(d))+t+d+struct.pack('>I',zlib.crc32(t+d))\n"
        "sys.stdout.buffer.write(b'\\x89PNG\\r\\n\\x1a\\n'+chunk(b'IHDR',struct.pack('>IIBBBBB',w,h,8,0,0,0,"
        "0))"
        "+chunk(b'IDAT',zlib.compress(bytes((w+1)*h),9))+chunk(b'IEND',b''))\" > " +
            shellQuoted(bomb),
        bomb);
    EXPECT_LT(server.files["bomb"].size(), 100 * 1024);
    EXPECT_EQ(runShell("identify -ping -format %wx%h " + shellQuoted(bomb)).second, "4000x4000");
    server.extraHeaders = "Expires: Fri, 31 Dec 9999 23:59:59 GMT\r\n";
    server.cacheControl.clear();

    std::shared_ptr<TileLoader> loader = TileLoader::shared();
    const int client = 0;
    const TileKey key{3, 2, 1};
    auto fetch = [&](const std::string& prefix) {
        const QString urlTemplate = server.urlTemplate(prefix);
        loader->setSource(urlTemplate, cacheHome);
        loader->setWanted(&client, {key});
        const int sent = loader->requestsSent();
        EXPECT_TRUE(QTest::qWaitFor([&] { return loader->requestsSent() > sent && idle(*loader); }, 20000))
            << prefix;
        return TileDiskCache(TileDiskCache::rootFor(cacheHome, urlTemplate.toStdString())).read(key);
    };
    // Refused: a body announced too large (refused from its header alone,
    // well before the transfer's 30 s timeout), one that grows too large as
    // it arrives, a format other than PNG, JPEG and WebP, an image larger than
    // a tile may be, and the bomb, refused before it is decoded.
    for (std::string prefix : {"big", "stream", "file/gif", "file/wide", "file/bomb"}) {
        const int sent = loader->requestsSent();
        const auto entry = fetch(prefix);
        EXPECT_EQ(loader->requestsSent(), sent + 1) << prefix;
        EXPECT_FALSE(entry.has_value()) << prefix;
        EXPECT_EQ(loader->tile(key), nullptr) << prefix;
    }
    // Accepted: WebP and JPEG, kept on disk; an Expires in the year 9999 is
    // held to a year instead of running past the clock.
    for (std::string prefix : {"file/webp", "file/jpeg", "ok"}) {
        const auto entry = fetch(prefix);
        ASSERT_TRUE(entry.has_value()) << prefix;
        ASSERT_NE(loader->tile(key), nullptr) << prefix;
        EXPECT_EQ(loader->tile(key)->size(), QSize(256, 256));
        const auto now = TilePolicy::Clock::now();
        EXPECT_GT(entry->expiry, now + std::chrono::hours(24 * 300)) << prefix;
        EXPECT_LE(entry->expiry, now + std::chrono::hours(24 * 366)) << prefix;
    }
    loader->setWanted(&client, {});
}

TEST_F(TileFixture, TheDiskCacheIsPrunedInTheBackground) {
    namespace fs = std::filesystem;
    TileServer server;
    const QString urlTemplate = server.urlTemplate("ok");
    const fs::path tiles = cacheHome / "quillomere" / "tiles";
    const std::string png = TileServer::png().toStdString();
    const auto now = TilePolicy::Clock::now();
    // Left by earlier runs: the tree of an address given up a month ago, one
    // used yesterday, and in the current tree an expired tile and a fresh one
    // of a zoom the view does not show.
    TileDiskCache old(tiles / "0000000000000001"), recent(tiles / "0000000000000002");
    TileDiskCache current(TileDiskCache::rootFor(cacheHome, urlTemplate.toStdString()));
    for (const TileDiskCache* d : {&old, &recent, &current})
        d->markUsed();
    ASSERT_TRUE(old.write(TileKey{1, 0, 0}, png, now + std::chrono::hours(24 * 30)));
    ASSERT_TRUE(recent.write(TileKey{1, 0, 0}, png, now + std::chrono::hours(24 * 30)));
    ASSERT_TRUE(current.write(TileKey{15, 1, 1}, png, now - std::chrono::hours(1)));
    ASSERT_TRUE(current.write(TileKey{15, 1, 2}, png, now + std::chrono::hours(24 * 30)));
    auto touch = [](const fs::path& p, const char* when) {
        EXPECT_EQ(runShell("touch -d " + shellQuoted(when) + " " + shellQuoted(p.string())).first, 0);
    };
    touch(old.root() / TileDiskCache::markerName, "30 days ago");
    touch(recent.root() / TileDiskCache::markerName, "1 day ago");
    touch(current.pathOf(TileKey{15, 1, 2}), "20 days ago");  // used longest ago

    // A cap of a few tiles; the tiles of the view take more.
    MapView& v = open(urlTemplate);
    TileLoader* loader = v.canvas()->tileLoader();
    const int64_t cap = 5 * int64_t(png.size() + 8);
    loader->setCacheCapBytes(cap);
    QTRY_VERIFY_WITH_TIMEOUT(allLoaded() && idle(), 20000);
    ASSERT_GT(visible().size(), 8u);

    EXPECT_FALSE(fs::exists(old.root()));
    EXPECT_TRUE(fs::exists(recent.root() / TileDiskCache::markerName));
    EXPECT_FALSE(fs::exists(current.pathOf(TileKey{15, 1, 1})));
    EXPECT_FALSE(fs::exists(current.pathOf(TileKey{15, 1, 2})));
    // What is left on disk fits the cap, counted by the file system.
    int64_t total = 0;
    for (const auto& e : fs::recursive_directory_iterator(tiles))
        if (e.is_regular_file() && e.path().extension() == ".tile") total += int64_t(e.file_size());
    EXPECT_LE(total, cap);
    EXPECT_GT(total, 0);
    // The tiles are still shown from memory.
    EXPECT_EQ(mapPixel(-140, 0), QColor(255, 0, 255));
}

TEST(TilePolicy, VisibleTilesUrlsAddressesDatesAndExpiry) {
    MapCamera camera;
    camera.setViewSize(512, 512);
    camera.setCenterAndScale(MapPoint{mercator::worldSize / 2, mercator::worldSize / 2},
                             512 / mercator::worldSize);
    EXPECT_EQ(TilePolicy::tileZoomFor(camera.zoomLevel(), 1), 1);
    EXPECT_EQ(TilePolicy::tileZoomFor(camera.zoomLevel(), 2), 2);
    EXPECT_EQ(TilePolicy::tileZoomFor(30, 1), TilePolicy::maxZoom);
    auto tiles = TilePolicy::visibleTiles(camera, 1);
    ASSERT_EQ(tiles.size(), 4u);
    std::set<std::pair<int, int>> seen;
    for (const VisibleTile& t : tiles) {
        EXPECT_EQ(t.key.z, 1);
        EXPECT_DOUBLE_EQ(t.size, 256);
        seen.insert({t.key.x, t.key.y});
    }
    EXPECT_EQ(seen, (std::set<std::pair<int, int>>{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));
    // Across the antimeridian the columns wrap; nothing above or below the world.
    camera.setRegion(CoordinateRegion{{180, 0}, 20, 1});
    int n = 1 << TilePolicy::tileZoomFor(camera.zoomLevel(), 1);
    bool west = false, east = false;
    for (const VisibleTile& t : TilePolicy::visibleTiles(camera, 1)) {
        EXPECT_GE(t.key.x, 0);
        EXPECT_LT(t.key.x, n);
        EXPECT_GE(t.key.y, 0);
        EXPECT_LT(t.key.y, n);
        east |= t.key.x == 0;
        west |= t.key.x == n - 1;
    }
    EXPECT_TRUE(west && east);
    // Nearest the centre first.
    auto ordered = TilePolicy::visibleTiles(camera, 1);
    auto d = [](const VisibleTile& t) {
        return std::hypot(t.viewX + t.size / 2 - 256, t.viewY + t.size / 2 - 256);
    };
    for (size_t i = 1; i < ordered.size(); ++i)
        EXPECT_LE(d(ordered[i - 1]), d(ordered[i]));

    EXPECT_EQ(TilePolicy::url("https://tile.openstreetmap.org/{z}/{x}/{y}.png", TileKey{3, 4, 5}),
              "https://tile.openstreetmap.org/3/4/5.png");
    EXPECT_EQ(TilePolicy::url("http://h/{y}-{x}-{z}{q}", TileKey{1, 2, 3}), "http://h/3-2-1{q}");

    using namespace std::chrono;
    const auto now = TilePolicy::Clock::now();
    const auto week = hours(24 * 7);
    EXPECT_EQ(TilePolicy::expiry(now, std::nullopt, std::nullopt, std::nullopt), now + week);
    EXPECT_EQ(TilePolicy::expiry(now, "max-age=60", std::nullopt, std::nullopt), now + week);
    EXPECT_EQ(TilePolicy::expiry(now, "public, max-age=2592000", std::nullopt, std::nullopt),
              now + seconds(2592000));
    EXPECT_EQ(TilePolicy::expiry(now, "no-cache", now + hours(24 * 30), std::nullopt), now + week);
    // Expires relative to the server's Date, so a skewed clock does not matter.
    EXPECT_EQ(TilePolicy::expiry(now, std::nullopt, now + hours(24 * 40) + hours(5), now + hours(5)),
              now + hours(24 * 40));
    // "Forever" is a year: a far Expires (as the header reader holds it), a huge max-age.
    const auto year = hours(24 * 365);
    const auto y9999 = TilePolicy::fromEpochMilliseconds(253402300799000);
    EXPECT_EQ(TilePolicy::expiry(now, std::nullopt, y9999, std::nullopt), now + year);
    EXPECT_EQ(TilePolicy::expiry(now, std::nullopt, y9999, TilePolicy::fromEpochMilliseconds(0)), now + year);
    EXPECT_EQ(TilePolicy::expiry(now, "max-age=99999999999999999999", std::nullopt, std::nullopt),
              now + year);
    EXPECT_EQ(TilePolicy::expiry(now, std::nullopt, TilePolicy::fromEpochMilliseconds(-5), now), now + week);
    EXPECT_GT(y9999, now);
    EXPECT_EQ(TilePolicy::fromEpochMilliseconds(INT64_MAX), TilePolicy::fromEpochMilliseconds(7258118400000));

    // HTTP dates in their three forms (oracle: date(1)); the year 9999 held to 2200.
    const auto epoch = [](const std::string& date) {
        return TilePolicy::fromEpochMilliseconds(
            1000 * std::stoll(runShell("date -u -d " + shellQuoted(date) + " +%s").second));
    };
    EXPECT_EQ(TilePolicy::parseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), epoch("1994-11-06 08:49:37"));
    EXPECT_EQ(TilePolicy::parseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), epoch("1994-11-06 08:49:37"));
    EXPECT_EQ(TilePolicy::parseHttpDate("Sun Nov  6 08:49:37 1994"), epoch("1994-11-06 08:49:37"));
    EXPECT_EQ(TilePolicy::parseHttpDate("Tue, 29 Feb 2028 23:59:59 GMT"), epoch("2028-02-29 23:59:59"));
    EXPECT_EQ(TilePolicy::parseHttpDate("Mon, 07 Dec 2026 17:00:00 GMT"), epoch("2026-12-07 17:00:00"));
    EXPECT_EQ(TilePolicy::parseHttpDate("Fri, 31 Dec 9999 23:59:59 GMT"),
              TilePolicy::fromEpochMilliseconds(7258118400000));
    for (const char* bad : {"", "0", "-1", "tomorrow", "Sun, 06 Nov 1994 08:49 GMT",
                            "Sun, 32 Nov 1994 08:49:37 GMT", "Sun, 06 Foo 1994 08:49:37 GMT",
                            "Sun, 06 Nov 1994 25:49:37 GMT", "Sun, 06 Nov 99999999999999999999 08:49:37 GMT"})
        EXPECT_FALSE(TilePolicy::parseHttpDate(bad).has_value()) << bad;

    // Addresses: http and https with a host, nothing else.
    for (const char* good :
         {"https://tile.openstreetmap.org/{z}/{x}/{y}.png", "HTTP://127.0.0.1:8080/{z}/{x}/{y}",
          "http://[::1]/t/{z}/{x}/{y}.png?key=abc", "https://user@tiles.example.org/{z}/{x}/{y}"})
        EXPECT_TRUE(TilePolicy::isAcceptedTemplate(good)) << good;
    for (const char* bad : {"", "tile.openstreetmap.org/{z}/{x}/{y}.png", "file:///etc/{z}/{x}/{y}.png",
                            "ftp://host/{z}/{x}/{y}", "http://", "https:///{z}/{x}/{y}", "http:/host/{z}",
                            "javascript:alert(1)", "http://host/a b/{z}", "http://host/\n{z}",
                            "data:image/png,x", "https://:443/{z}", " https://host/{z}"})
        EXPECT_FALSE(TilePolicy::isAcceptedTemplate(bad)) << bad;
}

}  // namespace
}  // namespace qm::test
