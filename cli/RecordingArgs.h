#pragma once
// The arguments the frame-level commands share: SOURCE, --entry N and the
// password options, and loading that entry into a Reader.
#include "Reader.h"

#include <QString>
#include <QStringList>

struct RecordingArgs {
    QString source;
    int entry = -1;
    bool backward = false;
    bool exportLoad = false;
    quint64 limit = 0;
    QString dumpDir;
    QString format = QStringLiteral("json");
    bool havePassword = false;
    QByteArray password;
    Mf2Keys keys = defaultMf2Keys();
};

// Parses args; the options a command does not take are errors. Returns an
// error text, empty on success.
QString parseRecordingArgs(const QStringList &args, const QStringList &accepted, RecordingArgs *out);

// Opens the source, then loads its entry for playback (backward when asked)
// or for export. Sets recordFile for a record-file source. Error text or empty.
QString loadRecording(Reader &reader, const RecordingArgs &args, bool *recordFile);
