// The toolbar's layout buttons for every channel count, and the event list's
// filters, highlight and ownership of its items.
#include "EventMenuWidget.h"
#include "TopMenuWidget.h"

#include <QPushButton>
#include <QTableWidget>
#include <gtest/gtest.h>

namespace {

// Visible layout buttons as a string: '1'..'8' single panes, 'P' 2X1, 'Q' 2X2, 'N' 3X3.
QString visibleButtons(const TopMenuWidget &bar)
{
    const char names[] = "12345678PQN";
    QString shown;
    for (int i = 0; i < TopMenuWidget::LayoutButtonCount; ++i) {
        if (!bar.layoutButton(i)->isHidden())
            shown += QLatin1Char(names[i]);
    }
    return shown;
}

QString checkedButtons(const TopMenuWidget &bar)
{
    const char names[] = "12345678PQN";
    QString checked;
    for (int i = 0; i < TopMenuWidget::LayoutButtonCount; ++i) {
        if (bar.layoutButton(i)->isChecked())
            checked += QLatin1Char(names[i]);
    }
    return checked;
}

QStringList column(QTableWidget *table, int c)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts.append(table->item(row, c)->text());
    return texts;
}

} // namespace

TEST(Toolbar, LayoutButtonsForEveryChannelCount)
{
    struct Case {
        int channels;
        const char *visible, *checked;
    } const cases[] = {
        {0, "1", "1"},         {1, "1", "1"},         {2, "12P", "P"},       {3, "123Q", "Q"},
        {4, "1234Q", "Q"},     {5, "12345N", "N"},    {6, "123456N", "N"},   {7, "1234567N", "N"},
        {8, "12345678N", "N"}, {9, "1", "1"},         {10, "1", "1"},
    };
    TopMenuWidget bar;
    for (const Case &c : cases) {
        bar.setChannelCount(c.channels);
        EXPECT_EQ(visibleButtons(bar).toStdString(), c.visible) << c.channels;
        EXPECT_EQ(checkedButtons(bar).toStdString(), c.checked) << c.channels;
    }
}

TEST(Toolbar, OneButtonCheckedAfterClicksAndGridReturns)
{
    TopMenuWidget bar;
    bar.setChannelCount(3);
    bar.layoutButton(1)->click();   // 1X1_2
    EXPECT_EQ(checkedButtons(bar).toStdString(), "2");
    bar.setLayoutButtons(1, 2);     // double-click back to the grid
    EXPECT_EQ(checkedButtons(bar).toStdString(), "Q");
    bar.setLayoutButtons(5, 0);     // a pane the count does not have: the first
    EXPECT_EQ(checkedButtons(bar).toStdString(), "1");
}

namespace {

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

TEST(EventList, FiltersShowTheirEntriesAndTheHighlightFollowsTheEntry)
{
    EventMenuWidget list;
    fillIndexList(list);
    auto *table = list.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    ASSERT_NE(table, nullptr);
    struct Step {
        const char *button;
        QStringList numbers;
    } const steps[] = {
        {"allBtn", {"0", "1", "2"}},
        {"eventBtn", {"1"}},
        {"normalBtn", {"0", "2"}},
        {"parkingBtn", {"0", "2"}},
        {"allBtn", {"0", "1", "2"}},
    };
    for (const Step &step : steps) {
        list.findChild<QPushButton *>(QLatin1String(step.button))->click();
        EXPECT_EQ(column(table, 0), step.numbers) << step.button;
    }
    EXPECT_EQ(column(table, 1), (QStringList{"1", "1", "2"}));
    EXPECT_EQ(column(table, 2).first().toStdString(), "2023/03/14 10:00:00");
    EXPECT_EQ(column(table, 3), (QStringList{"", "Event", ""}));

    EventItem *chosen = nullptr;
    QObject::connect(&list, &EventMenuWidget::itemSelected, [&](EventItem *item) { chosen = item; });
    emit table->cellDoubleClicked(2, 0);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->index, 2);
    EXPECT_EQ(list.currentIndex(), 2);

    // The highlighted row is the one holding entry 2 in each list shown.
    const QColor green(0, 255, 0);
    struct Highlight {
        const char *button;
        int row;   // -1: entry 2 is not in the list
    } const highlights[] = {{"allBtn", 2}, {"normalBtn", 1}, {"eventBtn", -1}};
    for (const Highlight &h : highlights) {
        list.findChild<QPushButton *>(QLatin1String(h.button))->click();
        for (int row = 0; row < table->rowCount(); ++row) {
            const bool lit = table->item(row, 0)->foreground().color() == green;
            EXPECT_EQ(lit, row == h.row) << h.button << " row " << row;
            EXPECT_EQ(table->item(row, 0)->font().bold(), row == h.row) << h.button << " row " << row;
        }
    }
    // The current item is found by entry, not by row; outside the list: none.
    EXPECT_EQ(list.currentItem(), nullptr);
    list.findChild<QPushButton *>(QStringLiteral("normalBtn"))->click();
    ASSERT_NE(list.currentItem(), nullptr);
    EXPECT_EQ(list.currentItem()->index, 2);

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
    QVector<PavonaEventItem *> records;
    const quint32 kinds[] = {0, 1, 1, 0};
    const quint32 parked[] = {0, 0, 1, 1};
    for (int i = 0; i < 4; ++i) {
        auto *record = new PavonaEventItem;
        record->index = i;
        record->block = 1;
        record->type = recordItemType(kinds[i], parked[i]);
        records.append(record);
    }
    list.setRecords(records, sortRecordItems({0, 1, 1, 0}, {0, 0, 1, 1}));
    auto *table = list.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    EXPECT_EQ(column(table, 3), (QStringList{"", "DE", "PE", ""}));
    const struct {
        const char *button;
        QStringList numbers;
    } steps[] = {{"eventBtn", {"1", "2"}}, {"normalBtn", {"0", "1"}}, {"parkingBtn", {"2", "3"}}};
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
