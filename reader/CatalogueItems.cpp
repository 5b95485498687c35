#include "CatalogueItems.h"

#include "PictureSize.h"

#include <algorithm>

namespace {
constexpr qint64 BlockGapSeconds = 1000;
constexpr int MaxChannels = 8;
constexpr qint32 DefaultWidth = PictureSize::DefaultWidth;
constexpr qint32 DefaultHeight = PictureSize::DefaultHeight;
}

QVector<int> catalogueBlocks(const QVector<CatalogueSpan> &spans)
{
    QVector<int> blocks;
    blocks.reserve(spans.size());
    int block = 0;
    qint64 lastEnd = 0;
    for (const CatalogueSpan &span : spans) {
        // The first entry opens block 1 whatever its time, so recordings
        // stamped near 1970 (a camera without a clock) still start at 1.
        if (blocks.isEmpty() || span.start < lastEnd || span.start - lastEnd > BlockGapSeconds)
            ++block;
        lastEnd = span.end;
        blocks.append(block);
    }
    return blocks;
}

int indexItemType(quint8 status)
{
    return status != 0 ? 1 : 0;
}

int recordItemType(quint32 eventKind, quint32 parking)
{
    if (eventKind == 0)
        return 0;
    return parking != 0 ? 3 : 2;
}

IndexItemLists sortIndexItems(const QVector<int> &types)
{
    IndexItemLists lists;
    for (int i = 0; i < types.size(); ++i) {
        lists.all.append(i);
        if (types[i] == 1)
            lists.event.append(i);
        else if (types[i] == 0)
            lists.normal.append(i);
    }
    return lists;
}

RecordItemLists sortRecordItems(const QVector<quint32> &eventKinds, const QVector<quint32> &parkingFlags)
{
    RecordItemLists lists;
    const int count = std::min(eventKinds.size(), parkingFlags.size());
    for (int i = 0; i < count; ++i) {
        lists.all.append(i);
        if (eventKinds[i] != 0)
            lists.event.append(i);
        if (parkingFlags[i] != 0)
            lists.parking.append(i);
        else
            lists.driving.append(i);
    }
    return lists;
}

int paneCapacity(int channelCount)
{
    if (channelCount <= 1)
        return 1;
    if (channelCount == 2)
        return 2;
    if (channelCount <= 4)
        return 4;
    return 9;
}

QVector<PaneSpec> buildPaneSpecs(int channelCount, const QVector<int> &widths, const QVector<int> &heights)
{
    if (channelCount < 1)
        return {PaneSpec{0, DefaultWidth, DefaultHeight}};
    channelCount = std::min(channelCount, MaxChannels);
    const int capacity = paneCapacity(channelCount);
    QVector<PaneSpec> specs;
    specs.reserve(capacity);
    for (int i = 0; i < capacity; ++i) {
        const int w = i < channelCount ? widths.value(i) : 0;
        const int h = i < channelCount ? heights.value(i) : 0;
        if (PictureSize::isPlayable(w, h))
            specs.append(PaneSpec{i, w, h});
        else
            specs.append(PaneSpec{i, DefaultWidth, DefaultHeight});
    }
    return specs;
}
