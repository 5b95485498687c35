// Smart Backup writing: archives of generated index cards (headers at both
// places) open again as the card did and play the same frames; passwords
// typed at backup open the archive; refusals and failures leave nothing
// behind; folder copies write only inside the chosen folder.
#include "ArchiveHead.h"
#include "BankHeader.h"
#include "CardFiles.h"
#include "Reader.h"
#include "SmartBackup.h"
#include "fixture_paths.h"

#include <QTemporaryDir>

using namespace cardfiles;
using namespace SmartBackup;

namespace {

constexpr size_t Capacity = 8 << 20;

// Every file below dir, relative to it.
QVector<BankEntry> cardBanks(Reader &reader, const QString &card)
{
    const QString root = fixtureDir() + "/" + card;
    EXPECT_EQ(reader.openIndexFile(root), 0) << card.toStdString();
    EXPECT_GT(reader.loadBanks(root), 0) << card.toStdString();
    return reader.banks();
}

// What the reader hands out for a bank, frame by frame.
QVector<QByteArray> frames(Reader &reader, int index, const BankEntry &bank)
{
    QVector<QByteArray> out;
    if (reader.loadBankForPlayback(index, bank, false, false) != 0)
        return out;
    std::vector<uint8_t> d(Capacity);
    FrameIndexEntry e;
    for (int len; (len = reader.nextFrame(e, d.data(), Capacity)) > 0;)
        out.append(QByteArray::number(e.marker) + ':' + QByteArray::number(e.channel) + ':'
                   + QByteArray(reinterpret_cast<const char *>(d.data()), len));
    return out;
}

QVector<QVector<qint64>> described(const QVector<BankEntry> &banks)
{
    QVector<QVector<qint64>> out;
    for (const BankEntry &b : banks)
        out.append({b.start, b.end, b.sortKey, b.channels, b.status, b.bankSeq, b.dataEnd, b.bankSize});
    return out;
}

ArchiveRequest request(const QVector<BankEntry> &banks, const QString &output, bool overwrite = false)
{
    ArchiveRequest r;
    r.banks = banks;
    r.output = output;
    r.overwrite = overwrite;
    return r;
}

} // namespace

TEST(SmartBackupArchive, CardBanksOpenAndPlayAsOnTheCard)
{
    for (const char *card : {"index", "index-dat"}) {   // header at 16384, at bank size - 204800
        SCOPED_TRACE(card);
        Reader cardReader;
        const QVector<BankEntry> banks = cardBanks(cardReader, card);
        ASSERT_GE(banks.size(), 2);
        QTemporaryDir tmp;
        const QString out = tmp.path() + "/backup0.smb";
        // Written in the reverse of the card's order: the archive keeps the
        // chosen order, the catalogue sorts.
        QVector<BankEntry> chosen(banks.rbegin(), banks.rend());
        QVector<int> items;
        const Result r = writeArchive(request(chosen, out), [&](const Progress &p) {
            if (items.isEmpty() || items.last() != p.item)
                items.append(p.item);
        });
        ASSERT_EQ(r.status, Result::Done) << r.error.toStdString();
        const qint64 n = banks.size(), size = banks.first().bankSize;
        EXPECT_EQ(QFileInfo(out).size(), 556 + 72 * n + n * size);
        EXPECT_EQ(items, (QVector<int>{0, 1, 2}).mid(0, int(n)));
        EXPECT_EQ(filesBelow(tmp.path()), QStringList{"backup0.smb"});

        const QByteArray head = readFile(out, 0, 556 + 72 * n);
        EXPECT_EQ(QVector<quint64>({leAt(head, 0, 4), leAt(head, 4, 4), leAt(head, 520, 4), leAt(head, 540, 4),
                                    leAt(head, 544, 4), leAt(head, 548, 4), leAt(head, 552, 4)}),
                  QVector<quint64>({0x1111, 0x2222, 0, quint64(cardReader.headChannelCount()), quint64(n),
                                    chosen.first().dataEnd, quint64(size)}));
        for (int i = 0; i < n; ++i) {
            const int at = 556 + 72 * i;
            const BankEntry &b = chosen[i];
            EXPECT_EQ(head.mid(at, 32), QByteArray(32, '\0')) << i;
            EXPECT_EQ(QVector<quint64>({leAt(head, at + 32, 8), leAt(head, at + 40, 8), leAt(head, at + 48, 4),
                                        leAt(head, at + 52, 1), leAt(head, at + 53, 1), leAt(head, at + 54, 2),
                                        leAt(head, at + 56, 4), leAt(head, at + 60, 4), leAt(head, at + 64, 8)}),
                      QVector<quint64>({quint64(b.start), quint64(b.end), b.sortKey, b.channels, b.status, b.bankSeq,
                                        b.dataEnd, b.bankSize, quint64(b.offset)})) << i;
            // Byte for byte the card's bank.
            EXPECT_TRUE(readFile(out, 556 + 72 * n + i * size, size) == readFile(b.path, b.offset, size)) << i;
        }

        Reader archiveReader;
        ASSERT_EQ(archiveReader.openIndexFormatFile(out), n);
        EXPECT_EQ(described(archiveReader.banks()), described(banks));
        EXPECT_EQ(archiveReader.headChannelCount(), cardReader.headChannelCount());
        EXPECT_EQ(archiveReader.widths().mid(0, 2), cardReader.widths().mid(0, 2));
        for (int i = 0; i < n; ++i) {
            const QVector<QByteArray> played = frames(archiveReader, i, archiveReader.banks()[i]);
            EXPECT_GT(played.size(), 50) << i;
            EXPECT_TRUE(played == frames(cardReader, i, banks[i])) << i;
        }
    }
}

// Archives the card generator packs on its own: each bank's header stays
// where the card had it, at 16384 or at the end.
TEST(SmartBackupArchive, GeneratedArchivesOpenWithHeadersAtEitherPlace)
{
    for (const auto &c : {std::make_pair("index", "index-start.smb"), std::make_pair("index-dat", "index.smb")}) {
        SCOPED_TRACE(c.second);
        Reader cardReader, archiveReader;
        const QVector<BankEntry> banks = cardBanks(cardReader, c.first);
        ASSERT_EQ(archiveReader.openIndexFormatFile(fixtureDir() + "/" + c.second), banks.size());
        EXPECT_EQ(described(archiveReader.banks()), described(banks));
        EXPECT_EQ(archiveReader.widths().mid(0, 2), cardReader.widths().mid(0, 2));
    }
}

TEST(SmartBackupArchive, PasswordTypedAtBackupOpensTheArchive)
{
    Reader cardReader;
    const QVector<BankEntry> banks = cardBanks(cardReader, "index").mid(0, 1);
    const struct { const char *typed; QByteArray stored; const char *wrong; } cases[] = {
        {"1234", QByteArray("1234", 4) + QByteArray(8, '\0'), "12345"},
        {"fifteen-letters", "fifteen-lett", "fifteen-lXtters"},
        // Cut by bytes: the 12th byte falls inside the first "ä" at the end.
        {"pässwört-ää", QByteArray("p\xc3\xa4ssw\xc3\xb6rt-\xc3", 12), "passwort-aa"},
    };
    QTemporaryDir tmp;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        const QString out = tmp.path() + "/locked.smb";
        QFile::remove(out);
        ArchiveRequest r = request(banks, out);
        r.usePassword = true;
        r.password = QString::fromUtf8(c.typed);
        ASSERT_EQ(writeArchive(r).status, Result::Done);
        const QByteArray head = readFile(out, 0, 556);
        EXPECT_EQ(leAt(head, 520, 4), 1u);
        EXPECT_EQ(head.mid(524, 12), c.stored);
        ScriptedPrompt user;
        Reader reader;
        reader.setPasswordPrompt(user.prompt(PasswordKind::Archive, 10));
        user.typed = c.wrong;
        EXPECT_EQ(reader.openIndexFormatFile(out), -1);
        user.typed = r.password.toUtf8();
        EXPECT_EQ(reader.openIndexFormatFile(out), 1);
    }
}

TEST(SmartBackupArchive, DefaultNameIsTheFirstFreeBackupNumber)
{
    const struct { QStringList files, folders; const char *name; } cases[] = {
        {{}, {}, "backup0.smb"},
        {{"backup0.smb", "backup1.smb"}, {}, "backup2.smb"},
        {{"backup1.smb", "backup2.smb"}, {}, "backup0.smb"},
        {{"backup0.smb", "backup2.smb", "backup10.smb"}, {}, "backup1.smb"},
        {{"backup0.SMB.part", "other.smb"}, {"backup0.smb/inner"}, "backup1.smb"},
    };
    for (const auto &c : cases) {
        QTemporaryDir tmp;
        for (const QString &f : c.files)
            writeFile(tmp.path() + "/" + f, "x");
        for (const QString &d : c.folders)
            QDir().mkpath(tmp.path() + "/" + d);
        EXPECT_EQ(defaultArchiveName(tmp.path()), QString(c.name)) << c.files.join(',').toStdString();
    }
    QTemporaryDir tmp;
    QDir().mkpath(tmp.path() + "/backup0");
    EXPECT_EQ(defaultFolderName(tmp.path()), "backup1");
}

TEST(SmartBackupArchive, RefusedRequestsTouchNothing)
{
    Reader cardReader;
    const QVector<BankEntry> banks = cardBanks(cardReader, "index");
    QTemporaryDir tmp;
    const QString existing = tmp.path() + "/backup0.smb";
    writeFile(existing, "earlier backup");
    // An archive opened as the source: its banks' path is the archive.
    const QString opened = tmp.path() + "/opened.smb";
    ASSERT_EQ(writeArchive(request(banks, opened)).status, Result::Done);
    Reader archiveReader;
    ASSERT_EQ(archiveReader.openIndexFormatFile(opened), banks.size());
    QVector<BankEntry> fiftyOne;
    while (fiftyOne.size() < 51)
        fiftyOne += banks;
    fiftyOne.resize(51);
    QVector<BankEntry> mixed = banks;
    mixed[1].bankSize += 1;
    ArchiveRequest noPassword = request(banks, tmp.path() + "/new.smb");
    noPassword.usePassword = true;
    const struct { const char *what; ArchiveRequest r; } cases[] = {
        {"no items", request({}, tmp.path() + "/new.smb")},
        {"51 items", request(fiftyOne, tmp.path() + "/new.smb")},
        {"no output", request(banks, QString())},
        {"existing output", request(banks, existing)},
        {"output is a data file", request(banks, banks.first().path, true)},
        {"output is the open archive", request(archiveReader.banks(), opened, true)},
        {"output is a folder", request(banks, tmp.path())},
        {"banks of two sizes", request(mixed, tmp.path() + "/new.smb")},
        {"password on but empty", noPassword},
    };
    const QStringList before = filesBelow(tmp.path());
    const QByteArray cardData = readFile(banks.first().path), archive = readFile(opened);
    for (const auto &c : cases) {
        const Result r = writeArchive(c.r);
        EXPECT_EQ(r.status, Result::Refused) << c.what;
        EXPECT_FALSE(r.error.isEmpty()) << c.what;
    }
    EXPECT_EQ(filesBelow(tmp.path()), before);
    EXPECT_EQ(readFile(existing), "earlier backup");
    EXPECT_TRUE(readFile(banks.first().path) == cardData);
    EXPECT_TRUE(readFile(opened) == archive);
    // Replacing an earlier backup is allowed when asked for.
    ArchiveRequest replace = request(banks.mid(0, 1), existing);
    replace.overwrite = true;
    EXPECT_EQ(writeArchive(replace).status, Result::Done);
    EXPECT_EQ(QFileInfo(existing).size(), 556 + 72 + banks.first().bankSize);
}

TEST(SmartBackupArchive, UnreadableBanksAndCancelLeaveNoArchive)
{
    Reader cardReader;
    const QVector<BankEntry> cardList = cardBanks(cardReader, "index-dat");
    const struct { const char *what; int damage; } cases[] = {
        {"data file missing", 0}, {"data file cut inside the last bank", 1}, {"bank overwritten since listed", 2},
        {"cancelled partway", 3}, {"earlier archive kept on failure", 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir tmp;
        QDir().mkpath(tmp.path() + "/card");
        QDir().mkpath(tmp.path() + "/out");
        QVector<BankEntry> banks = cardList;
        for (BankEntry &b : banks) {
            const QString copy = tmp.path() + "/card/" + QFileInfo(b.path).fileName();
            if (!QFileInfo::exists(copy))
                QFile::copy(b.path, copy);
            b.path = copy;
        }
        const BankEntry &last = banks.last();
        if (c.damage == 0)
            QFile::remove(last.path);
        if (c.damage == 1)
            QFile(last.path).resize(last.offset + last.bankSize - 1);
        if (c.damage == 2) {
            QFile f(last.path);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            f.seek(last.offset);
            const QByteArray start = f.read(203);
            const qint64 at = BankHeader::offsetInBank(start.constData(), last.bankSize);
            f.seek(last.offset + at + 2);
            f.write("\x55\x55", 2);   // another bank serial: a newer recording
        }
        const QString out = tmp.path() + "/out/backup0.smb";
        ArchiveRequest r = request(banks, out);
        if (c.damage == 4) {
            writeFile(out, "earlier");
            r.overwrite = true;
            QFile::remove(last.path);
        }
        int progressCalls = 0;
        const Result result = writeArchive(r, [&](const Progress &) { ++progressCalls; },
                                           [&] { return c.damage == 3 && progressCalls > 3; });
        EXPECT_EQ(result.status, c.damage == 3 ? Result::Cancelled : Result::Failed);
        EXPECT_FALSE(result.error.isEmpty());
        EXPECT_EQ(filesBelow(tmp.path() + "/out"), c.damage == 4 ? QStringList{"backup0.smb"} : QStringList{});
        if (c.damage == 4) {
            EXPECT_EQ(readFile(out), "earlier");
        }
    }
}

TEST(SmartBackupFolder, CopiesUnderTheFilesOwnNamesOnlyIntoTheFolder)
{
    QTemporaryDir tmp;
    const QString src = tmp.path() + "/src", out = tmp.path() + "/out/new";
    QDir().mkpath(src);
    // The first 28 characters of the trailer's name match the file; what
    // follows them is the hostile part a copy must never use.
    const struct { const char *file, *trailerName; } files[] = {
        {"REC_0000001_20230314-054525_NDNN.mp4", "REC_0000001_20230314-054525_/../../../escaped.mp4"},
        {"REC_0000002_20230314-054530_EDNN.mp4", "REC_0000002_20230314-054530_\\..\\..\\escaped.mp4"},
        {"REC_0000003_20230314-054535_NPNN.mp4", "REC_0000003_20230314-054535_NPNN/etc/passwd"},
    };
    for (const auto &f : files)
        recording(src, f.file, trailer(f.trailerName, 2, 5), QByteArray(4096, char(f.file[10])));
    Reader reader;
    ASSERT_EQ(reader.scanFolder(src), 3);
    FolderRequest r;
    r.records = reader.files();
    r.folder = out;
    const Result first = copyRecords(r);
    ASSERT_EQ(first.status, Result::Done) << first.error.toStdString();
    EXPECT_TRUE(first.skipped.isEmpty());
    QStringList expected;
    for (const auto &f : files)
        expected.append(QString("out/new/") + f.file);
    QStringList all = expected;
    for (const auto &f : files)
        all.append(QString("src/") + f.file);
    all.sort();
    EXPECT_EQ(filesBelow(tmp.path()), all);
    for (const auto &f : files) {
        const QByteArray sum = toolOutput("md5sum", {src + "/" + f.file}).left(32);
        EXPECT_EQ(toolOutput("md5sum", {out + "/" + f.file}).left(32), sum) << f.file;
    }

    // Again, with one copy changed and one source gone: nothing is replaced
    // without asking, and each file left out is reported.
    writeFile(out + "/" + files[0].file, "kept");
    QFile::remove(src + "/" + files[1].file);
    const Result again = copyRecords(r);
    EXPECT_EQ(again.status, Result::Done);
    ASSERT_EQ(again.skipped.size(), 3);
    EXPECT_EQ(readFile(out + "/" + files[0].file), "kept");
    r.overwrite = true;
    const Result replaced = copyRecords(r);
    EXPECT_EQ(replaced.written.size(), 2);
    ASSERT_EQ(replaced.skipped.size(), 1);
    EXPECT_EQ(replaced.skipped[0].item, 1);
    EXPECT_NE(readFile(out + "/" + files[0].file), "kept");

    // The source folder itself is refused as the output.
    r.folder = src;
    EXPECT_EQ(copyRecords(r).status, Result::Refused);
    EXPECT_EQ(filesBelow(tmp.path()).size(), all.size() - 1);
}
