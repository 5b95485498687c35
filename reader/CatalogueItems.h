#pragma once
#include <QVector>
#include <QtGlobal>

// Event-list items made from a loaded catalogue: block numbers, item types,
// the filtered lists and the pane list. Pure functions, so the shell, the
// command-line tool and the tests share one rule.

// One catalogue entry's time span, seconds since 1970. Index lists use the
// bank's start and end; record lists whole seconds and start + duration.
struct CatalogueSpan {
    qint64 start;
    qint64 end;
};

// Block numbers for a list of spans in list order. A gap of more than 1000 s
// after the previous end, or a start before the previous end, opens a new
// block. The first entry is always block 1. Archives do not use this: their
// block is the entry's own bank serial number.
QVector<int> catalogueBlocks(const QVector<CatalogueSpan> &spans);

// Event-list type of an index-store bank: 1 event (status byte non-zero), 0 normal.
int indexItemType(quint8 status);

// Event-list type of a recording file: 0 normal, 3 parked event, 2 driving event.
int recordItemType(quint32 eventKind, quint32 parking);

// The lists behind the event list's filter buttons, as positions into the
// catalogue, each in catalogue order.
struct IndexItemLists {
    QVector<int> all;
    QVector<int> event;   // type 1
    QVector<int> normal;  // type 0
};

struct RecordItemLists {
    QVector<int> all;
    QVector<int> event;    // event kind not normal
    QVector<int> driving;  // parking flag clear (normal recordings included)
    QVector<int> parking;  // parking flag set (normal recordings included)
};

// types: the indexItemType of each entry.
IndexItemLists sortIndexItems(const QVector<int> &types);

// eventKinds and parkingFlags: one value per recording; the shorter vector
// bounds the lists.
RecordItemLists sortRecordItems(const QVector<quint32> &eventKinds, const QVector<quint32> &parkingFlags);

// One pane of the grid: the channel it shows and that channel's picture size.
struct PaneSpec {
    qint32 channel, width, height;
};

inline bool operator==(const PaneSpec &a, const PaneSpec &b)
{
    return a.channel == b.channel && a.width == b.width && a.height == b.height;
}

// Panes of the grid for a channel count: 1 for up to 1 channel, 2 for 2,
// 4 for 3 or 4, 9 for 5 or more.
int paneCapacity(int channelCount);

// One spec per real channel (its recorded size, or 1280 x 720 when the
// catalogue has no size for it or one no picture can have, PictureSize.h), then fillers (i, 1280, 720) up to the
// capacity. Channel counts below 1 give the single spec (0, 1280, 720);
// counts above 8 are taken as 8, the most a camera records.
QVector<PaneSpec> buildPaneSpecs(int channelCount, const QVector<int> &widths, const QVector<int> &heights);
