#include "FileRecord.h"

bool operator==(const FileRecord &a, const FileRecord &b)
{
    return a.kind == b.kind && a.isMF2 == b.isMF2 && a.sequence == b.sequence
        && a.eventKind == b.eventKind && a.parking == b.parking && a.flag3 == b.flag3
        && a.flag4 == b.flag4 && a.start == b.start;
}
