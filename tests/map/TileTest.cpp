// Online tiles against a tile server of our own on 127.0.0.1, started by the
// test: the User-Agent, at most two connections, only the visible tiles, the
// disk cache and its expiry, the cache when the server is gone, and the base
// layer left visible by a 404 or a refused connection. Plus the plain tile
// rules (visible tiles, URLs, expiry).
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest/QTest>

#include <map>
#include <set>

#include "MapHarness.h"
#include "map/MapCanvas.h"
#include "map/TileDiskCache.h"
#include "map/TileLoader.h"
#include "map/TilePolicy.h"
#include "map/WorldBaseLayer.h"

namespace qm::test {
namespace {

// A minimal HTTP/1.1 server: GET /ok/z/x/y.png answers a magenta PNG with
// the configured Cache-Control; anything else is a 404. Keep-alive is served.
class TileServer : public QObject {
public:
    QTcpServer server;
    std::vector<std::string> paths;
    std::set<std::string> userAgents;
    QByteArray cacheControl = "max-age=60";
    int openConnections = 0, maxOpenConnections = 0;

    TileServer() {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                maxOpenConnections = std::max(maxOpenConnections, ++openConnections);
                auto* buffer = new QByteArray;
                QObject::connect(s, &QTcpSocket::disconnected, this, [this, s, buffer] {
                    --openConnections;
                    delete buffer;
                    s->deleteLater();
                });
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s, buffer] {
                    buffer->append(s->readAll());
                    qsizetype end;
                    while ((end = buffer->indexOf("\r\n\r\n")) >= 0) {
                        QByteArray head = buffer->left(end);
                        buffer->remove(0, end + 4);
                        answer(s, head);
                    }
                });
            }
        });
    }
    QString urlTemplate(const char* prefix) const {
        return QStringLiteral("http://127.0.0.1:%1/%2/{z}/{x}/{y}.png").arg(server.serverPort()).arg(prefix);
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
    void answer(QTcpSocket* s, const QByteArray& head) {
        QList<QByteArray> lines = head.split('\n');
        QByteArray path = lines.value(0).split(' ').value(1);
        paths.push_back(path.toStdString());
        for (const QByteArray& l : lines)
            if (l.toLower().startsWith("user-agent:")) userAgents.insert(l.mid(11).trimmed().toStdString());
        QByteArray body, status;
        if (path.startsWith("/ok/")) {
            body = png();
            status = "200 OK";
        } else {
            body = "missing";
            status = "404 Not Found";
        }
        s->write("HTTP/1.1 " + status + "\r\nContent-Type: image/png\r\nCache-Control: " + cacheControl +
                 "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }
};

struct TileFixture : ::testing::Test {
    MapHarness h;
    std::unique_ptr<MapView> view;
    std::filesystem::path cacheHome =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation).toStdString();

    MapView& open(const QString& urlTemplate) {
        h.defaults->setValue("mapTilesEnabled", true);
        h.defaults->setValue("mapTileURLTemplate", urlTemplate.toStdString());
        view = std::make_unique<MapView>(h.window);
        view->resize(1000, 700);
        view->canvas()->setRegion(CoordinateRegion{{0, 20}, 300, 1});
        view->show();
        return *view;
    }
    std::vector<TileKey> visible() const {
        std::vector<TileKey> out;
        for (const VisibleTile& t : TilePolicy::visibleTiles(view->canvas()->camera(), view->devicePixelRatioF()))
            out.push_back(t.key);
        return out;
    }
    bool allLoaded() const {
        for (const TileKey& k : visible())
            if (!view->canvas()->tileLoader()->tile(k)) return false;
        return true;
    }
    bool idle() const {
        TileLoader* l = view->canvas()->tileLoader();
        return l->requestsSent() > 0 && l->requestsInFlight() == 0;
    }
    QColor mapPixel(double lon, double lat) {
        double x, y;
        view->canvas()->camera().viewPointOf(Coordinate{lon, lat}, x, y);
        const QImage& frame = view->canvas()->frame();
        return QColor(frame.pixel(int(x * frame.devicePixelRatio()), int(y * frame.devicePixelRatio())));
    }
};

TEST_F(TileFixture, FetchedWithTheUserAgentCachedAndServedWhenTheServerIsGone) {
    auto server = std::make_unique<TileServer>();
    const QString urlTemplate = server->urlTemplate("ok");
    MapView& v = open(urlTemplate);
    ASSERT_NE(v.canvas()->tileLoader(), nullptr);
    EXPECT_TRUE(v.attribution()->isVisible());
    EXPECT_EQ(v.attribution()->text(), QString::fromUtf8("\u00A9 OpenStreetMap contributors"));
    QTRY_VERIFY_WITH_TIMEOUT(allLoaded(), 20000);
    const auto keys = visible();
    ASSERT_GE(keys.size(), 6u);

    // Only the visible tiles, each once, with our User-Agent, two connections at most.
    std::set<std::string> expected;
    for (const TileKey& k : keys)
        expected.insert("/ok/" + std::to_string(k.z) + "/" + std::to_string(k.x) + "/" + std::to_string(k.y) + ".png");
    EXPECT_EQ(std::set<std::string>(server->paths.begin(), server->paths.end()), expected);
    EXPECT_EQ(server->paths.size(), expected.size());
    EXPECT_EQ(server->userAgents, std::set<std::string>{TileLoader::userAgent().toStdString()});
    EXPECT_TRUE(TileLoader::userAgent().startsWith("Quillomere/0."));
    EXPECT_LE(server->maxOpenConnections, 2);

    // Drawn over the base layer.
    EXPECT_EQ(mapPixel(-140, 0), QColor(255, 0, 255));

    // On disk under $XDG_CACHE_HOME/quillomere/tiles, kept at least a week
    // although the server said a minute.
    TileDiskCache disk(TileDiskCache::rootFor(cacheHome, urlTemplate.toStdString()));
    EXPECT_EQ(disk.root().parent_path(), cacheHome / "quillomere" / "tiles");
    for (const TileKey& k : keys) {
        auto entry = disk.read(k);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->bytes, TileServer::png().toStdString());
        EXPECT_GE(entry->expiry, TilePolicy::Clock::now() + std::chrono::hours(24 * 7) - std::chrono::minutes(5));
    }

    // The server goes away: a new pane shows the tiles from the cache, asking nothing.
    view.reset();
    server.reset();
    MapView& again = open(urlTemplate);
    EXPECT_TRUE(allLoaded());
    EXPECT_EQ(again.canvas()->tileLoader()->requestsSent(), 0);
    EXPECT_EQ(mapPixel(-140, 0), QColor(255, 0, 255));
}

TEST_F(TileFixture, MissingTilesAndRefusedConnectionsLeaveTheBaseLayer) {
    const auto colors = WorldBaseLayer::colorsFor(false);
    TileServer server;
    MapView& v = open(server.urlTemplate("missing"));
    QTRY_VERIFY_WITH_TIMEOUT(idle() && v.canvas()->tileLoader()->requestsSent() >= int(visible().size()), 20000);
    EXPECT_GE(server.paths.size(), visible().size());
    for (const TileKey& k : visible()) EXPECT_EQ(v.canvas()->tileLoader()->tile(k), nullptr);
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
    QTRY_VERIFY_WITH_TIMEOUT(idle() && refused.canvas()->tileLoader()->requestsSent() >= int(visible().size()), 20000);
    EXPECT_EQ(mapPixel(-140, 0), colors.sea);
    EXPECT_EQ(mapPixel(135, -25), colors.land);

    // Tiles off: no loader, no attribution.
    view.reset();
    h.defaults->setValue("mapTilesEnabled", false);
    view = std::make_unique<MapView>(h.window);
    view->show();
    EXPECT_EQ(view->canvas()->tileLoader(), nullptr);
    EXPECT_FALSE(view->attribution()->isVisible());
}

TEST(TilePolicy, VisibleTilesUrlsAndExpiry) {
    MapCamera camera;
    camera.setViewSize(512, 512);
    camera.setCenterAndScale(MapPoint{mercator::worldSize / 2, mercator::worldSize / 2}, 512 / mercator::worldSize);
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
    auto d = [](const VisibleTile& t) { return std::hypot(t.viewX + t.size / 2 - 256, t.viewY + t.size / 2 - 256); };
    for (size_t i = 1; i < ordered.size(); ++i) EXPECT_LE(d(ordered[i - 1]), d(ordered[i]));

    EXPECT_EQ(TilePolicy::url("https://tile.openstreetmap.org/{z}/{x}/{y}.png", TileKey{3, 4, 5}),
              "https://tile.openstreetmap.org/3/4/5.png");
    EXPECT_EQ(TilePolicy::url("http://h/{y}-{x}-{z}{q}", TileKey{1, 2, 3}), "http://h/3-2-1{q}");

    using namespace std::chrono;
    const auto now = TilePolicy::Clock::now();
    const auto week = hours(24 * 7);
    EXPECT_EQ(TilePolicy::expiry(now, std::nullopt, std::nullopt, std::nullopt), now + week);
    EXPECT_EQ(TilePolicy::expiry(now, "max-age=60", std::nullopt, std::nullopt), now + week);
    EXPECT_EQ(TilePolicy::expiry(now, "public, max-age=2592000", std::nullopt, std::nullopt), now + seconds(2592000));
    EXPECT_EQ(TilePolicy::expiry(now, "no-cache", now + hours(24 * 30), std::nullopt), now + week);
    // Expires relative to the server's Date, so a skewed clock does not matter.
    EXPECT_EQ(TilePolicy::expiry(now, std::nullopt, now + hours(24 * 40) + hours(5), now + hours(5)),
              now + hours(24 * 40));
}

}  // namespace
}  // namespace qm::test
