#pragma once
// Opening a SOURCE argument the way the viewer opens a path, shared by the
// commands of zidavova-tool.
#include "Reader.h"

#include <QJsonObject>
#include <QString>

// "--mf2-keys K0,K1,K2": three numbers separated by commas.
bool parseKeys(const QString &text, Mf2Keys *keys);

// Opens source (index card, record-file card, loose folder, .smb archive or
// one recording file) and fills out with its catalogue. Returns an error
// text, empty on success.
QString openSource(Reader &reader, const QString &source, QJsonObject *out);

// The MF2 keys and a prompt answering with the --password text, if any.
void usePassword(Reader &reader, const Mf2Keys &keys, bool havePassword, const QByteArray &password);
