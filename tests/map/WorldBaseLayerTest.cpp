// The embedded world: both levels of detail load, the finer one has more
// points, and damaged data gives an empty layer rather than garbage.
#include <gtest/gtest.h>

#include <QFile>

#include "map/WorldBaseLayer.h"

namespace qm {
namespace {

TEST(WorldBaseLayer, LoadsBothDetailsAndRejectsDamagedData) {
    auto world = WorldBaseLayer::shared();
    ASSERT_FALSE(world->isEmpty());
    const size_t coarse = world->pointCount(WorldBaseLayer::Detail::coarse);
    const size_t fine = world->pointCount(WorldBaseLayer::Detail::fine);
    EXPECT_GT(coarse, 10000u);
    EXPECT_GT(fine, 3 * coarse);
    EXPECT_GT(world->memoryBytes(), (coarse + fine) * 2 * sizeof(float));
    EXPECT_EQ(WorldBaseLayer::detailFor(1), WorldBaseLayer::Detail::coarse);
    EXPECT_EQ(WorldBaseLayer::detailFor(6), WorldBaseLayer::Detail::fine);

    QFile f(QStringLiteral(":/map/world.qmw"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray data = f.readAll();
    EXPECT_FALSE(WorldBaseLayer::fromData(data)->isEmpty());
    EXPECT_TRUE(WorldBaseLayer::fromData(data.left(data.size() / 2))->isEmpty());  // truncated
    EXPECT_TRUE(WorldBaseLayer::fromData(QByteArray("QMW2") + data.mid(4))->isEmpty());
    EXPECT_TRUE(WorldBaseLayer::fromData(QByteArray())->isEmpty());
    QByteArray huge = data.left(14);  // a first line claiming far more points than follow
    huge.append("\xff\xff\xff\x7f", 4);
    EXPECT_TRUE(WorldBaseLayer::fromData(huge)->isEmpty());
}

}  // namespace
}  // namespace qm
