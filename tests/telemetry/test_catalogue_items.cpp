#include "CatalogueItems.h"

#include <gtest/gtest.h>

namespace {

TEST(CatalogueBlocks, GapAndOverlapRule)
{
    const qint64 t = 1700000000;
    struct Case {
        const char *name;
        QVector<CatalogueSpan> spans;
        QVector<int> blocks;
    } cases[] = {
        {"Empty", {}, {}},
        {"GapsOf240And1440", {{t, t + 60}, {t + 300, t + 360}, {t + 1800, t + 1860}}, {1, 1, 2}},
        {"Exactly1000Keeps", {{t, t + 60}, {t + 1060, t + 1120}}, {1, 1}},
        {"Of1001Opens", {{t, t + 60}, {t + 1061, t + 1120}}, {1, 2}},
        {"StartBeforeLastEnd", {{t, t + 60}, {t + 59, t + 120}, {t + 120, t + 180}}, {1, 2, 2}},
        {"TimesNear1970", {{5, 10}, {20, 30}}, {1, 1}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(catalogueBlocks(c.spans), c.blocks) << c.name;
}

TEST(CatalogueItems, TypesAndFilteredLists)
{
    EXPECT_EQ(QVector<int>({indexItemType(0), indexItemType(1), indexItemType(0x80), recordItemType(0, 1), recordItemType(1, 0),
                            recordItemType(3, 1)}),
              QVector<int>({0, 1, 1, 0, 2, 3}));
    const IndexItemLists index = sortIndexItems({0, 1, 0});
    EXPECT_EQ(QVector<QVector<int>>({index.all, index.event, index.normal}), QVector<QVector<int>>({{0, 1, 2}, {1}, {0, 2}}));
    // normal driving, parked event, driving event, normal parked
    const RecordItemLists r = sortRecordItems({0, 1, 2, 0}, {0, 1, 0, 1});
    EXPECT_EQ(QVector<QVector<int>>({r.all, r.event, r.driving, r.parking}), QVector<QVector<int>>({{0, 1, 2, 3}, {1, 2}, {0, 2}, {1, 3}}));
    EXPECT_EQ(sortRecordItems({1, 1}, {0}).all, QVector<int>{0});
}

TEST(PaneSpecs, CapacityAndSizes)
{
    struct Case {
        int channels;
        QVector<int> widths, heights;
        QVector<PaneSpec> specs;
    } cases[] = {
        {0, {}, {}, {{0, 1280, 720}}},
        {-3, {}, {}, {{0, 1280, 720}}},
        {1, {640}, {480}, {{0, 640, 480}}},
        {2, {640, 0}, {480, 0}, {{0, 640, 480}, {1, 1280, 720}}},
        {3, {1920, 640, 320}, {1080, 480, 240}, {{0, 1920, 1080}, {1, 640, 480}, {2, 320, 240}, {3, 1280, 720}}},
        {4, {640, 640, 640}, {480, 0, 480}, {{0, 640, 480}, {1, 1280, 720}, {2, 640, 480}, {3, 1280, 720}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(buildPaneSpecs(c.channels, c.widths, c.heights), c.specs) << c.channels;

    for (int channels = 5; channels <= 8; ++channels) {
        const QVector<PaneSpec> specs = buildPaneSpecs(channels, QVector<int>(16, 640), QVector<int>(16, 480));
        ASSERT_EQ(specs.size(), 9) << channels;
        EXPECT_EQ(specs[channels - 1], (PaneSpec{channels - 1, 640, 480}));
        EXPECT_EQ(specs[8], (PaneSpec{8, 1280, 720}));
    }
    // More channels than a camera has: never more panes than the grid holds.
    EXPECT_EQ(buildPaneSpecs(12, QVector<int>(16, 640), QVector<int>(16, 480)).size(), 9);
}

} // namespace
