// Record-file stores through the Reader: what a folder scan keeps and skips,
// single files, the MF2 password gate and the card's own files.
#include "CardFiles.h"
#include "FileAccess.h"
#include "Reader.h"

#include <QTemporaryDir>

using namespace cardfiles;

namespace {

QString name(int seq, const char *letters = "NDNN", const char *ext = "mp4")
{
    return QStringLiteral("REC_%1_20230314-0545%2_%3.%4")
        .arg(seq, 7, 10, QLatin1Char('0')).arg(seq % 60, 2, 10, QLatin1Char('0')).arg(letters, ext);
}

// A recording whose trailer names it.
QString addRecording(const QString &dir, const QString &fileName, int channels = 2,
                     const QByteArray &head = QByteArray(4096, 'm'))
{
    return recording(dir, fileName, trailer(fileName.toUtf8(), channels, 60), head);
}

} // namespace

TEST(RecordStore, FolderScanSkipsEverythingThatIsNotARecording)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    addRecording(d, name(3), 4);
    recording(d, name(1, "EDNN", "MF2"), olderTrailer(name(1, "EDNN", "MF2").toUtf8(), 2, 3500));
    addRecording(d, "E_0000002_20230314-054502_P.mp4", 1);
    addRecording(d, name(4, "NDNN", "mf2"));
    QDir(d).mkdir(name(5));                                                    // a folder
    writeFile(d + "/" + name(6), QByteArray());                                // zero length
    writeFile(d + "/" + name(7), trailer(name(7).toUtf8(), 2, 60).left(2000)); // < 2048 bytes
    addRecording(d, "REC0000008.mp4");                                         // no '_'
    recording(d, name(9), trailer(name(10).toUtf8(), 2, 60));                  // another file's trailer
    recording(d, name(11), trailer(name(11).toUtf8(), 12, 60));                // 12 channels
    QFile::link(d + "/missing", d + "/" + name(12));                           // unreadable
    addRecording(d, name(13) + ".txt");                                        // not listed

    Reader reader;
    ASSERT_EQ(reader.scanFolder(d), 4);
    QVector<quint32> got; // sequence, MF2, duration, event kind, parking
    for (const FileRecord &f : reader.files())
        got << f.sequence << f.isMF2 << f.trailer.duration() << f.eventKind << f.parking;
    // Form B names are events; a lower-case .mf2 holds MP4.
    EXPECT_EQ(got, (QVector<quint32>{1, 1, 3, 1, 0, 2, 0, 60, 1, 1, 3, 0, 60, 0, 0, 4, 0, 60, 0, 0}));
    EXPECT_EQ(reader.largestChannelCount(), 4);
    // Sizes come from the first file in name order: E_0000002 has one channel.
    EXPECT_EQ(reader.widths().mid(0, 3), (QVector<int>{320, 0, 0}));
    EXPECT_TRUE(reader.source().kind == SourceKind::Folder && reader.settingsFilePath().isEmpty());
}

TEST(RecordStore, ScanReadsOnlyTheTrailerInAtMostTwoReads)
{
    QTemporaryDir tmp;
    for (int i = 1; i <= 10; ++i)
        addRecording(tmp.path(), name(i), 2, QByteArray(100000, 'm'));
    recording(tmp.path(), name(11), olderTrailer(name(11).toUtf8(), 2, 60), QByteArray(100000, 'm'));
    Reader reader;
    resetReadStatistics();
    ASSERT_EQ(reader.scanFolder(tmp.path()), 11);
    EXPECT_EQ(readStatistics().calls, 10u * 2 + 1);
    EXPECT_EQ(readStatistics().bytes, 10u * (1000 + 1696) + 1000);
}

TEST(RecordStore, ScanCardNeedsRecordingsAndNamesItsSettingsFile)
{
    QTemporaryDir tmp;
    const QDir card(tmp.path());
    Reader reader;
    EXPECT_EQ(reader.scanCard(card.path()), -1);
    card.mkdir("record");
    EXPECT_EQ(reader.scanCard(card.path()), -1);
    addRecording(card.filePath("record"), name(1));
    ASSERT_EQ(reader.scanCard(card.path()), 1);
    EXPECT_EQ(reader.settingsFilePath(), card.absolutePath() + "/Config/ZidavOva.cfg");
    EXPECT_EQ(reader.locateSettings(card.path()), -1);
    card.mkpath("Config");
    writeFile(card.filePath("Config/ZidavOva.cfg"), "x");
    EXPECT_EQ(reader.locateSettings(card.path()), 0);
}

TEST(RecordStore, SingleFileNeedsItsOwnNameInTheTrailer)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    QDir(d).mkdir("ünïcödé folder");
    const QString formB = addRecording(d + "/ünïcödé folder", "E_0000002_20230314-054502_D.mp4");
    // Same first 28 bytes, different letters: a renamed copy.
    const QString copied = recording(d, name(1, "EDNN"), trailer(name(1, "NDNN").toUtf8(), 2, 60));
    const QString good = addRecording(d, name(3));

    Reader reader;
    ASSERT_EQ(reader.openSingleFile(formB), 1);
    EXPECT_TRUE(reader.files().first().eventKind == 1u && reader.files().first().path == formB);
    // A rejected file leaves the open catalogue as it was.
    EXPECT_EQ(reader.openSingleFile(copied), 0);
    EXPECT_EQ(reader.files().first().path, formB);
    EXPECT_EQ(reader.openSingleFile(d + "/nothing.mp4"), 0);
    EXPECT_EQ(reader.openSingleFile(good), 1);
    EXPECT_EQ(reader.widths().first(), 320);
    // The folder scan takes the renamed copy: its first 28 bytes confirm it.
    EXPECT_EQ(reader.scanFolder(d), 2);
}

TEST(RecordStore, Mf2PasswordGateOnEveryPathRememberedPerSource)
{
    QTemporaryDir tmp;
    const Mf2Keys keys = defaultMf2Keys();
    const QString card = tmp.path() + "/card", records = card + "/record";
    QDir().mkpath(records);
    const QString locked = addRecording(records, name(1, "NDNN", "MF2"), 2, mf2iHead("abcd", 1, keys[1]));
    addRecording(records, name(2, "NDNN", "MF2"), 2, mf2iHead("", 0, keys[0])); // no password
    addRecording(records, name(3));

    ScriptedPrompt user{"wrong"};
    Reader reader;
    reader.setPasswordPrompt(user.prompt(PasswordKind::Mf2, 8));
    EXPECT_EQ(reader.scanCard(card), 2); // the locked file is left out
    EXPECT_TRUE(reader.passwordRefused() && user.calls == 1);

    user.typed = "abcd";
    EXPECT_EQ(reader.scanCard(card), 3);
    EXPECT_FALSE(reader.passwordRefused());
    EXPECT_EQ(reader.scanCard(card), 3); // remembered for this card
    EXPECT_EQ(reader.scanFolder(records), 3); // another source asks again
    EXPECT_EQ(user.calls, 3);
    user.typed.clear();
    EXPECT_EQ(reader.openSingleFile(locked), 0);
    EXPECT_TRUE(reader.passwordRefused());
}
