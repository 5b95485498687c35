#include "CardSettings.h"

#include "SettingsImage.h"
#include "SetupBlock.h"

#include <QFile>

namespace {

int refuse(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return -1;
}

// The settings may go back only to the very card they came from.
bool sameCard(const Reader &reader, const CardSettings &settings, CardSettings::Store store, QString *error)
{
    if (settings.store != store || !settings.faithful) {
        refuse(error, settings.reason.isEmpty() ? QStringLiteral("the open source has no card to write to")
                                                : QStringLiteral("not written: %1").arg(settings.reason));
        return false;
    }
    const OpenSource source = reader.source();
    const QString now = store == CardSettings::Store::Index ? source.indexPath : source.settingsPath;
    if (now != settings.path) {
        refuse(error, QStringLiteral("%1 is no longer the open card").arg(settings.path));
        return false;
    }
    return true;
}

} // namespace

CardSettings CardSettings::fromReader(const Reader &reader)
{
    CardSettings s;
    const OpenSource source = reader.source();
    switch (source.kind) {
    case SourceKind::IndexCard:
        s.store = Store::Index;
        s.path = source.indexPath;
        s.setupBlock = reader.setupBlock();
        s.read = s.setupBlock.size() == SetupBlock::Size;
        s.faithful = s.read && reader.setupBlockComplete();
        if (!s.faithful)
            s.reason = QStringLiteral("%1 holds no whole setup block").arg(s.path);
        break;
    case SourceKind::RecordCard: {
        s.store = Store::Record;
        s.path = source.settingsPath;
        s.image = QByteArray(SettingsImage::DataSize, '\0');
        const SettingsImage::LoadResult r =
            SettingsImage::loadFile(s.path, reinterpret_cast<unsigned char *>(s.image.data()));
        s.read = r.read;
        s.faithful = r.faithful;
        s.reason = r.reason;
        break;
    }
    case SourceKind::Folder:
    case SourceKind::SingleFile:
        s.store = Store::Record;
        s.reason = QStringLiteral("%1 is not a card: it has no camera settings").arg(source.root);
        break;
    case SourceKind::Archive:
        s.store = Store::Index;
        s.reason = QStringLiteral("%1 is a Smart Backup archive: it has no camera settings").arg(source.root);
        break;
    case SourceKind::None:
        s.reason = QStringLiteral("no card is open");
        break;
    }
    return s;
}

QString CardSettings::storeName() const
{
    return store == Store::Index ? QStringLiteral("index") : store == Store::Record ? QStringLiteral("record") : QStringLiteral("none");
}

QString CardSettings::sourceName() const
{
    return store == Store::Index ? QStringLiteral("setup block") : QStringLiteral("settings image");
}

int writeCardSetupBlock(Reader &reader, const CardSettings &settings, const QByteArray &block, QString *error)
{
    if (!sameCard(reader, settings, CardSettings::Store::Index, error))
        return -1;
    if (block == reader.setupBlock())
        return 0;
    return reader.writeSetupBlock(block, error);
}

int writeCardSettingsImage(Reader &reader, const CardSettings &settings, const unsigned char *image, QString *error)
{
    if (!sameCard(reader, settings, CardSettings::Store::Record, error))
        return -1;
    QByteArray bytes;
    QString reason;
    if (!SettingsImage::serialize(image, &bytes, &reason))
        return refuse(error, QStringLiteral("%1 not written: %2").arg(settings.path, reason));
    QFile current(settings.path);
    if (current.open(QIODevice::ReadOnly) && current.size() == bytes.size() && current.readAll() == bytes)
        return 0;
    return reader.writeSettingsFile(bytes, error);
}
