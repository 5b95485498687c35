#pragma once
// The event list: one row per catalogue entry (number, block, start, event
// type), four filter buttons (the active one checked), the current entry
// highlighted, and a double-click that announces the entry to play. The
// list owns its items.
#include "CatalogueItems.h"
#include "EventItem.h"
#include "PavonaEventItem.h"

#include <QHash>
#include <QList>
#include <QWidget>

namespace Ui {
class EventMenuWidget;
}

class EventMenuWidget : public QWidget
{
    Q_OBJECT

public:
    explicit EventMenuWidget(QWidget *parent = nullptr);
    ~EventMenuWidget() override;

    // A new index-store catalogue: takes ownership of items (in catalogue
    // order); lists name the positions behind each filter. Resets the current
    // entry and the storage mode (1).
    void setItems(const QVector<EventItem *> &items, const IndexItemLists &lists);
    // The same for a record-file store (storage mode 2).
    void setRecords(const QVector<PavonaEventItem *> &records, const RecordItemLists &lists);
    // Deletes every item and empties the lists.
    void clear();

    int storageMode() const { return mode; }
    int filter() const { return filterValue; }
    // Catalogue index of the current entry, -1 when none was chosen.
    int currentIndex() const { return current; }

    // The current entry, or the first row shown when none was chosen; null
    // when that entry is not in the list shown.
    EventItem *currentItem() const;
    PavonaEventItem *currentRecord() const;
    QList<EventItem *> allItemList() const { return allItems; }
    QList<PavonaEventItem *> allRecordList() const { return allRecords; }

    // Rebuilds the table from the list selected by storage mode and filter.
    void refill();
    // Playback reached the entry with this catalogue index: it becomes the
    // current entry; its row is made current when the list shown holds it.
    void selectRow(int catalogueIndex);
    // A line under the table telling why the list is empty (empty text hides it).
    void setNotice(const QString &text);
    QString notice() const;
    // The entry cannot be played: its row is greyed out and its tooltip
    // gives the reason, until the next catalogue.
    void markUnplayable(int catalogueIndex, const QString &reason);
    // The reason given for the entry; empty for a playable one.
    QString unplayableReason(int catalogueIndex) const;

signals:
    void itemSelected(EventItem *item);
    void itemPavonaSelected(PavonaEventItem *item);

private slots:
    void on_allBtn_clicked();
    void on_eventBtn_clicked();
    void on_normalBtn_clicked();
    void on_parkingBtn_clicked();
    void on_tableWidget_cellDoubleClicked(int row, int column);

private:
    void setFilter(int value);
    const QList<EventItem *> &shownItems() const;
    const QList<PavonaEventItem *> *shownRecords() const;
    int rowOf(int catalogueIndex) const;
    void fillRow(int row, int index, int block, const QDateTime &start, int type);

    Ui::EventMenuWidget *ui;
    int filterValue = 0;   // 0 all, 1 event, 3 driving, 4 parking
    QList<EventItem *> allItems, eventItems, normalItems;
    QList<PavonaEventItem *> allRecords, eventRecords, drivingRecords, parkingRecords;
    int current = -1;
    int mode = 1;
    QHash<int, QString> unplayable;
};
