// The pane grid at the main window's 902 x 484 display area: where each cell
// and the outer frame lie for every layout, which panes show, and how the
// selection survives layout changes, double-clicks and rebuilds.
#include "H26xFrameItem.h"
#include "PaneManager.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

// A grid of count panes of 320 x 240 at the display area's size.
void build(PaneManager &grid, int count)
{
    QVector<PaneSpec> specs;
    for (int i = 0; i < count; ++i)
        specs.append({i, 320, 240});
    grid.resize(902, 484);
    grid.rebuild(count, specs);
}

} // namespace

TEST(PaneGrid, CellsAndFramesAt902x484)
{
    const struct { int layout, current, index; QRect cell; } cases[] = {
        {0, 0, 0, QRect(QPoint(2, 2), QPoint(899, 481))},   {0, 5, 5, QRect(QPoint(2, 2), QPoint(899, 481))},
        {1, 0, 0, QRect(QPoint(2, 123), QPoint(448, 360))}, {1, 0, 1, QRect(QPoint(451, 123), QPoint(897, 360))},
        {1, 3, 2, QRect(QPoint(2, 123), QPoint(448, 360))}, {2, 0, 0, QRect(2, 2, 447, 238)},
        {2, 0, 1, QRect(451, 2, 447, 238)},                 {2, 0, 2, QRect(2, 242, 447, 238)},
        {2, 0, 3, QRect(451, 242, 447, 238)},               {3, 0, 0, QRect(2, 2, 296, 157)},
        {3, 0, 4, QRect(300, 161, 296, 157)},               {3, 0, 8, QRect(598, 320, 296, 157)},
        {3, 0, 6, QRect(2, 320, 296, 157)},
    };
    const QRect frames[] = {QRect(QPoint(1, 1), QPoint(900, 482)), QRect(QPoint(1, 122), QPoint(898, 361)),
                            QRect(QPoint(1, 1), QPoint(898, 480)), QRect(QPoint(1, 1), QPoint(894, 477))};
    const int placedPerLayout[] = {1, 2, 4, 9};
    for (const auto &c : cases) {
        QRect cells[PaneManager::MaxPanes], frame;
        PaneManager::cellsFor(c.layout, c.current, 902, 484, cells, &frame);
        EXPECT_EQ(cells[c.index], c.cell) << "layout " << c.layout << " pane " << c.index;
        EXPECT_EQ(frame, frames[c.layout]) << "layout " << c.layout;
        EXPECT_EQ(std::count_if(cells, cells + PaneManager::MaxPanes, [](const QRect &r) { return r.isValid(); }),
                  placedPerLayout[c.layout])
            << "layout " << c.layout;
    }
}

TEST(PaneGrid, RebuildPicksTheLayoutAndClampsTheSelection)
{
    const struct { int count, defaultLayout, shown; } cases[] = {{0, 0, 1}, {1, 0, 1}, {2, 1, 2}, {3, 2, 3}, {4, 2, 4}, {5, 3, 5}, {9, 3, 9}};
    for (const auto &c : cases) {
        PaneManager grid;
        build(grid, 9);
        grid.changeLayout(0, 8);   // pane 8 alone
        grid.paneDoubleClicked(8); // back to 3X3, remembered as the previous layout
        grid.paneDoubleClicked(8); // single again; previous layout 3X3
        build(grid, c.count);
        EXPECT_EQ(grid.layout(), c.defaultLayout) << c.count;
        EXPECT_LT(grid.current(), grid.paneCount()) << c.count;
        EXPECT_LE(grid.previousLayout(), c.defaultLayout) << c.count;
        int visible = 0;
        for (int i = 0; i < grid.paneCount(); ++i)
            visible += grid.cell(i).isValid();
        EXPECT_EQ(visible, c.shown) << c.count;
    }
}

TEST(PaneGrid, LayoutChangesAndDoubleClicksFollowTheSelection)
{
    // 2X1 steps through the pairs that fit: 0/1, 2/3, back to 0/1; with two
    // panes it stays on 0/1, and with three the pair 2/3 would reach beyond.
    const struct { int count, clicked; QVector<int> currents; } cases[] = {{4, 0, {0, 2, 0}}, {2, 0, {0, 0, 0}}, {3, 2, {0}}};
    for (const auto &c : cases) {
        PaneManager grid;
        build(grid, c.count);
        grid.paneClicked(c.clicked);
        QVector<int> currents;
        for (int i = 0; i < c.currents.size(); ++i) {
            grid.changeLayout(1, 0);
            currents.append(grid.current());
        }
        EXPECT_EQ(currents, c.currents) << c.count;
    }
    PaneManager grid;
    build(grid, 4);
    grid.changeLayout(0, 4); // beyond the grid: pane 0
    EXPECT_EQ(grid.current(), 0);
    grid.changeLayout(2, 0);
    grid.paneDoubleClicked(3);
    EXPECT_EQ(grid.layout(), 0);
    EXPECT_TRUE(grid.cell(3).isValid());
    grid.paneDoubleClicked(3);
    EXPECT_EQ(grid.layout(), 2);
    EXPECT_EQ(grid.current(), 3);
}

TEST(PaneGrid, FramesOfOtherChannelsAreDestroyedAndTheLogoGoesOnce)
{
    PaneManager grid;
    build(grid, 2);
    FrameIndexEntry record{};
    record.channel = 1;
    grid.decodedFrame(new H26xFrameItem(nullptr, 0, record));
    EXPECT_TRUE(grid.hasVideo(1));
    EXPECT_FALSE(grid.hasVideo(0));
    grid.changeLayout(0, 1);
    grid.changeLayout(1, 0);
    EXPECT_TRUE(grid.hasVideo(1));
    // A channel the grid does not hold: destroyed (leak checkers see it), no pane marked.
    record.channel = 5;
    grid.decodedFrame(new H26xFrameItem(nullptr, 0, record));
    grid.decodedFrame(nullptr);
    for (int i = 2; i < PaneManager::MaxPanes; ++i)
        EXPECT_FALSE(grid.hasVideo(i)) << i;
    build(grid, 2);
    EXPECT_FALSE(grid.hasVideo(1));
}
