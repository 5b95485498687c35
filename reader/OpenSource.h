#pragma once
// What the catalogue has open: one record, replaced as a whole by every
// open, so no later write can reach the files of an earlier source.
#include <QString>

enum class SourceKind { None, IndexCard, RecordCard, Folder, SingleFile, Archive };

struct OpenSource {
    SourceKind kind = SourceKind::None;
    QString root;           // card root, folder, file or archive path
    QString indexPath;      // index card only
    QString settingsPath;   // record-file card only: <root>/Config/ZidavOva.cfg
};
