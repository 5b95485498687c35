// The toolbar's layout buttons for every channel count and for the layout
// keys, and the event list's filters, highlight and ownership of its items.
#include "EventMenuWidget.h"
#include "PaneManager.h"
#include "TalViewerMainDialog.h"
#include "TopMenuWidget.h"
#include "fixture_paths.h"

#include <QDir>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>

namespace {

// Layout buttons passing test as a string: '1'..'8' single panes, 'P' 2X1, 'Q' 2X2, 'N' 3X3.
std::string buttons(const TopMenuWidget &bar, bool (*test)(const QPushButton *))
{
    std::string chosen;
    for (int i = 0; i < TopMenuWidget::LayoutButtonCount; ++i)
        if (test(bar.layoutButton(i)))
            chosen += "12345678PQN"[i];
    return chosen;
}
std::string visible(const TopMenuWidget &bar) { return buttons(bar, [](const QPushButton *b) { return !b->isHidden(); }); }
std::string checked(const TopMenuWidget &bar) { return buttons(bar, [](const QPushButton *b) { return b->isChecked(); }); }

QStringList column(QTableWidget *table, int c)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts.append(table->item(row, c)->text());
    return texts;
}

// Three banks, the second an event; blocks 1, 1, 2.
void fillIndexList(EventMenuWidget &list)
{
    QVector<EventItem *> items;
    const int types[] = {0, 1, 0};
    for (int i = 0; i < 3; ++i) {
        auto *item = new EventItem;
        item->index = i;
        item->block = i < 2 ? 1 : 2;
        item->startTime = QDateTime(QDate(2023, 3, 14), QTime(10, i * 5, 0));
        item->type = types[i];
        items.append(item);
    }
    list.setItems(items, sortIndexItems({0, 1, 0}));
}

} // namespace

TEST(Toolbar, LayoutButtonsForEveryChannelCount)
{
    const char *const shown[] = {"1", "1", "12P", "123Q", "1234Q", "12345N", "123456N", "1234567N", "12345678N", "1", "1"};
    TopMenuWidget bar;
    for (int channels = 0; channels < 11; ++channels) {
        bar.setChannelCount(channels);
        EXPECT_EQ(visible(bar), shown[channels]) << channels;
        // The grid for the count is checked; one pane alone shows as '1'.
        EXPECT_EQ(checked(bar), std::string(1, shown[channels][std::strlen(shown[channels]) - 1])) << channels;
    }
    // One button checked after clicks, and the grid returns.
    bar.setChannelCount(3);
    bar.layoutButton(1)->click();   // 1X1_2
    EXPECT_EQ(checked(bar), "2");
    bar.setLayoutButtons(1, 2);     // double-click back to the grid
    EXPECT_EQ(checked(bar), "Q");
    bar.setLayoutButtons(5, 0);     // a pane the count does not have: the first
    EXPECT_EQ(checked(bar), "1");
}

// The keys 1-8 and 0 check the button of the layout they show, as a click
// on that button would (2-channel card: 1X1_1, 1X1_2 and 2X1).
TEST(Toolbar, LayoutKeysCheckTheButtonOfTheLayoutShown)
{
    TalViewerMainDialog window;
    window.setStartPath(QDir(fixtureDir()).filePath(QStringLiteral("index")));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(checked(*window.toolbar()), "P");
    const struct { Qt::Key key; const char *checked; int layout, current; } steps[] = {
        {Qt::Key_2, "2", 0, 1}, {Qt::Key_1, "1", 0, 0}, {Qt::Key_0, "P", 1, 0}, {Qt::Key_2, "2", 0, 1},
        {Qt::Key_3, "2", 0, 1}, // no third channel: nothing changes
    };
    for (const auto &step : steps) {
        QTest::keyClick(&window, step.key);
        EXPECT_EQ(checked(*window.toolbar()), step.checked) << "key " << step.key - Qt::Key_0;
        EXPECT_EQ(window.paneGrid()->layout(), step.layout) << "key " << step.key - Qt::Key_0;
        EXPECT_EQ(window.paneGrid()->current(), step.current) << "key " << step.key - Qt::Key_0;
    }
}

TEST(EventList, FiltersShowTheirEntriesAndTheHighlightFollowsTheEntry)
{
    EventMenuWidget list;
    fillIndexList(list);
    auto *table = list.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(column(table, 0), (QStringList{"0", "1", "2"}));
    EXPECT_EQ(column(table, 1), (QStringList{"1", "1", "2"}));
    EXPECT_EQ(column(table, 2).first().toStdString(), "2023/03/14 10:00:00");
    EXPECT_EQ(column(table, 3), (QStringList{"", "Event", ""}));

    EventItem *chosen = nullptr;
    QObject::connect(&list, &EventMenuWidget::itemSelected, [&](EventItem *item) { chosen = item; });
    emit table->cellDoubleClicked(2, 0);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->index, 2);
    EXPECT_EQ(list.currentIndex(), 2);

    // Each filter shows its entries and its button alone is checked, also
    // when pressed again; the highlighted row is the one holding entry 2 and
    // the current item is found by entry, not by row.
    const auto checkedFilters = [&list] {
        std::string names;
        for (const char *name : {"allBtn", "eventBtn", "normalBtn", "parkingBtn"})
            names += list.findChild<QPushButton *>(QLatin1String(name))->isChecked() ? name : "";
        return names;
    };
    EXPECT_EQ(checkedFilters(), "allBtn");
    const struct { const char *button; QStringList numbers; int litRow; /* -1: entry 2 not listed */ } steps[] = {{"allBtn", {"0", "1", "2"}, 2}, {"normalBtn", {"0", "2"}, 1}, {"parkingBtn", {"0", "2"}, 1},
                 {"eventBtn", {"1"}, -1},        {"eventBtn", {"1"}, -1},        {"allBtn", {"0", "1", "2"}, 2}};
    for (const auto &step : steps) {
        list.findChild<QPushButton *>(QLatin1String(step.button))->click();
        EXPECT_EQ(checkedFilters(), step.button);
        EXPECT_EQ(column(table, 0), step.numbers) << step.button;
        for (int row = 0; row < table->rowCount(); ++row) {
            EXPECT_EQ(table->item(row, 0)->foreground().color() == QColor(0, 255, 0), row == step.litRow) << row;
            EXPECT_EQ(table->item(row, 0)->font().bold(), row == step.litRow) << step.button << " row " << row;
        }
        EXPECT_EQ(list.currentItem() ? list.currentItem()->index : -1, step.litRow < 0 ? -1 : 2) << step.button;
    }

    // Playback moving on selects by catalogue index; a new catalogue forgets it.
    list.selectRow(0);
    EXPECT_EQ(table->currentRow(), 0);
    EXPECT_EQ(list.currentItem()->index, 0);
    fillIndexList(list);
    EXPECT_EQ(list.currentIndex(), -1);
}

TEST(EventList, RecordsAreSortedIntoDrivingParkingAndEvent)
{
    EventMenuWidget list;
    const QVector<quint32> kinds{0, 1, 1, 0}, parked{0, 0, 1, 1};
    QVector<PavonaEventItem *> records;
    for (int i = 0; i < 4; ++i) {
        records.append(new PavonaEventItem);
        records[i]->index = i;
        records[i]->block = 1;
        records[i]->type = recordItemType(kinds[i], parked[i]);
    }
    list.setRecords(records, sortRecordItems(kinds, parked));
    auto *table = list.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    EXPECT_EQ(column(table, 3), (QStringList{"", "DE", "PE", ""}));
    const struct { const char *button; QStringList numbers; } steps[] = {{"eventBtn", {"1", "2"}}, {"normalBtn", {"0", "1"}}, {"parkingBtn", {"2", "3"}}};
    for (const auto &step : steps) {
        list.findChild<QPushButton *>(QLatin1String(step.button))->click();
        EXPECT_EQ(column(table, 0), step.numbers) << step.button;
    }
    PavonaEventItem *chosen = nullptr;
    QObject::connect(&list, &EventMenuWidget::itemPavonaSelected, [&](PavonaEventItem *r) { chosen = r; });
    emit table->cellDoubleClicked(1, 0);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->index, 3);
}
