#pragma once
// The camera settings of the source the catalogue has open, and whether
// they may be written back: only to that card, and only when they were
// read faithfully (a setup block read whole from this index file; a
// settings image of exactly 18344 bytes whose MD5 matches and whose counts
// are all in bounds). Folders, single files and archives have no card.
#include "Reader.h"

#include <QByteArray>
#include <QString>

struct CardSettings {
    enum class Store { None, Index, Record };

    Store store = Store::None;
    QString path;             // the index file or Config/ZidavOva.cfg
    bool read = false;        // settings were found and read
    bool faithful = false;    // read exactly; only then may they be written
    QString reason;           // why not read or not faithful (empty when faithful)
    QByteArray setupBlock;    // Store::Index: the 431-byte block
    QByteArray image;         // Store::Record: the 18216-byte settings image

    // Reads what the reader's open source holds.
    static CardSettings fromReader(const Reader &reader);

    // "index" / "record" / "none", "setup block" / "settings image".
    QString storeName() const;
    QString sourceName() const;
};

// Writes block to the open index card (refused unless settings are
// faithful and from that card). An unchanged block is not written at all.
// 0 on success, -1 with error naming the file.
int writeCardSetupBlock(Reader &reader, const CardSettings &settings, const QByteArray &block, QString *error);
// Writes image to the open record-file card's Config/ZidavOva.cfg and then
// its .mod flag; the same rules.
int writeCardSettingsImage(Reader &reader, const CardSettings &settings, const unsigned char *image, QString *error);
