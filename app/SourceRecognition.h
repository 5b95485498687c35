#pragma once
// The one rule that tells what a path is, used by start-up discovery, Open,
// drops and the path argument alike: a folder holding an index file is an
// index card, a folder holding the marker file or a "record" folder is a
// record-file card, any other folder a folder of recordings; a file is an
// archive (.smb) or a recording (.mp4, .mf2) by its suffix, whatever its
// letter case; anything else is not a source.
#include "OpenSource.h"

#include <QString>

// What path is, looking only at names on disk (nothing is opened).
SourceKind recognisePath(const QString &path);
// A folder as a card: IndexCard, RecordCard or None.
SourceKind recogniseCard(const QString &root);
