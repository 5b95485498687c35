#include "EventMenuWidget.h"

#include "EventKind.h"
#include "LogCategories.h"
#include "ui_EventMenuWidget.h"

#include <QDebug>
#include <QHeaderView>

namespace {

template <typename T>
QList<T *> pick(const QVector<T *> &items, const QVector<int> &positions)
{
    QList<T *> list;
    for (int position : positions) {
        if (position >= 0 && position < items.size())
            list.append(items[position]);
    }
    return list;
}

} // namespace

EventMenuWidget::EventMenuWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::EventMenuWidget)
{
    ui->setupUi(this);
    ui->allBtn->setText(tr("All"));
    ui->eventBtn->setText(tr("Event"));
    ui->normalBtn->setText(tr("Driving"));
    ui->parkingBtn->setText(tr("Parking"));
    const int widths[] = {45, 50, 165, 60};
    for (int column = 0; column < 4; ++column)
        ui->tableWidget->setColumnWidth(column, widths[column]);
    ui->tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QFont headerFont = ui->tableWidget->horizontalHeader()->font();
    headerFont.setWeight(75);
    headerFont.setPointSize(7);
    ui->tableWidget->horizontalHeader()->setFont(headerFont);
    QFont tableFont = ui->tableWidget->font();
    tableFont.setPointSize(8);
    ui->tableWidget->setFont(tableFont);
    ui->noticeLabel->hide();
    refill();
}

EventMenuWidget::~EventMenuWidget()
{
    clear();
    delete ui;
}

void EventMenuWidget::clear()
{
    // The filtered lists share the items of the all lists.
    qDeleteAll(allItems);
    qDeleteAll(allRecords);
    allItems.clear();
    eventItems.clear();
    normalItems.clear();
    allRecords.clear();
    eventRecords.clear();
    drivingRecords.clear();
    parkingRecords.clear();
    current = -1;
    unplayable.clear();
}

void EventMenuWidget::setItems(const QVector<EventItem *> &items, const IndexItemLists &lists)
{
    clear();
    mode = 1;
    allItems = pick(items, lists.all);
    eventItems = pick(items, lists.event);
    normalItems = pick(items, lists.normal);
    // Items no list names would otherwise leak.
    for (EventItem *item : items) {
        if (!allItems.contains(item))
            delete item;
    }
    refill();
}

void EventMenuWidget::setRecords(const QVector<PavonaEventItem *> &records, const RecordItemLists &lists)
{
    clear();
    mode = 2;
    allRecords = pick(records, lists.all);
    eventRecords = pick(records, lists.event);
    drivingRecords = pick(records, lists.driving);
    parkingRecords = pick(records, lists.parking);
    for (PavonaEventItem *record : records) {
        if (!allRecords.contains(record))
            delete record;
    }
    refill();
}

const QList<EventItem *> &EventMenuWidget::shownItems() const
{
    if (filterValue == 0)
        return allItems;
    if (filterValue == 1)
        return eventItems;
    return normalItems;
}

const QList<PavonaEventItem *> *EventMenuWidget::shownRecords() const
{
    switch (filterValue) {
    case 0: return &allRecords;
    case 1: return &eventRecords;
    case 3: return &drivingRecords;
    case 4: return &parkingRecords;
    default: return nullptr;
    }
}

int EventMenuWidget::rowOf(int catalogueIndex) const
{
    if (catalogueIndex < 0)
        return -1;
    if (mode == 1) {
        const QList<EventItem *> &items = shownItems();
        for (int row = 0; row < items.size(); ++row) {
            if (items[row]->index == catalogueIndex)
                return row;
        }
    } else if (const QList<PavonaEventItem *> *records = shownRecords()) {
        for (int row = 0; row < records->size(); ++row) {
            if (records->at(row)->index == catalogueIndex)
                return row;
        }
    }
    return -1;
}

EventItem *EventMenuWidget::currentItem() const
{
    if (mode != 1)
        return nullptr;
    const QList<EventItem *> &items = shownItems();
    const int row = current < 0 ? 0 : rowOf(current);
    qCDebug(lcShell, "index:%d", row);
    return row >= 0 && row < items.size() ? items[row] : nullptr;
}

PavonaEventItem *EventMenuWidget::currentRecord() const
{
    const QList<PavonaEventItem *> *records = shownRecords();
    if (mode != 2 || !records)
        return nullptr;
    const int row = current < 0 ? 0 : rowOf(current);
    qCDebug(lcShell, "index:%d", row);
    return row >= 0 && row < records->size() ? records->at(row) : nullptr;
}

void EventMenuWidget::fillRow(int row, int index, int block, const QDateTime &start, int type)
{
    const QString texts[] = {QStringLiteral("%1").arg(index), QStringLiteral("%1").arg(block),
                             start.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")), eventKindName(type)};
    const bool highlighted = current >= 0 && index == current;
    const auto reason = unplayable.constFind(index);
    for (int column = 0; column < 4; ++column) {
        auto *cell = new QTableWidgetItem(texts[column]);
        cell->setTextAlignment(Qt::AlignCenter);
        cell->setBackground(QColor(30, 30, 30));
        if (reason != unplayable.constEnd()) {
            cell->setForeground(QColor(110, 110, 110));
            QFont font = cell->font();
            font.setStrikeOut(true);
            cell->setFont(font);
            cell->setToolTip(tr("Cannot be played: %1").arg(*reason));
        } else if (highlighted) {
            cell->setForeground(QColor(0, 255, 0));
            QFont font = cell->font();
            font.setWeight(75);
            cell->setFont(font);
        }
        ui->tableWidget->setItem(row, column, cell);
    }
}

void EventMenuWidget::refill()
{
    ui->tableWidget->setHorizontalHeaderLabels({tr("No."), tr("Block"), tr("DateTime"), tr("Event")});
    if (mode == 1) {
        const QList<EventItem *> &items = shownItems();
        ui->tableWidget->setRowCount(items.size());
        for (int row = 0; row < items.size(); ++row) {
            const EventItem *item = items[row];
            fillRow(row, item->index, item->block, item->startTime, item->type);
        }
        return;
    }
    const QList<PavonaEventItem *> *records = shownRecords();
    const int count = records ? records->size() : 0;
    qCDebug(lcShell, "%d", count);
    ui->tableWidget->setRowCount(count);
    for (int row = 0; row < count; ++row) {
        const PavonaEventItem *record = records->at(row);
        fillRow(row, record->index, record->block, record->startTime, record->type);
    }
}

void EventMenuWidget::selectRow(int catalogueIndex)
{
    current = catalogueIndex;
    const int row = rowOf(catalogueIndex);
    if (row >= 0)
        ui->tableWidget->setCurrentCell(row, 0);
    refill();
}

void EventMenuWidget::setNotice(const QString &text)
{
    ui->noticeLabel->setText(text);
    ui->noticeLabel->setVisible(!text.isEmpty());
}

QString EventMenuWidget::notice() const
{
    return ui->noticeLabel->text();
}

void EventMenuWidget::markUnplayable(int catalogueIndex, const QString &reason)
{
    unplayable.insert(catalogueIndex, reason);
    refill();
}

QString EventMenuWidget::unplayableReason(int catalogueIndex) const
{
    return unplayable.value(catalogueIndex);
}

void EventMenuWidget::setFilter(int value)
{
    if (filterValue == value)
        return;
    filterValue = value;
    refill();
}

void EventMenuWidget::on_allBtn_clicked()
{
    setFilter(0);
}

void EventMenuWidget::on_eventBtn_clicked()
{
    setFilter(1);
}

void EventMenuWidget::on_normalBtn_clicked()
{
    setFilter(3);
}

void EventMenuWidget::on_parkingBtn_clicked()
{
    setFilter(4);
}

void EventMenuWidget::on_tableWidget_cellDoubleClicked(int row, int)
{
    if (mode == 1) {
        const QList<EventItem *> &items = shownItems();
        if (row < 0 || row >= items.size())
            return;
        EventItem *item = items[row];
        current = item->index;
        refill();
        emit itemSelected(item);
    } else if (mode == 2) {
        const QList<PavonaEventItem *> *records = shownRecords();
        if (!records || row < 0 || row >= records->size())
            return;
        PavonaEventItem *record = records->at(row);
        current = record->index;
        refill();
        emit itemPavonaSelected(record);
    }
}
