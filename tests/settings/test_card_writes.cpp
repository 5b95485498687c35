// Settings written to generated cards: only the open card, only the bytes
// of the change, nothing else on the card touched (md5sum of every file
// before and after), and a failing write leaves the card as it was.
#include "CardSettings.h"
#include "PavonaConfig.h"
#include "ProcessRun.h"
#include "SafeFileWrite.h"
#include "SettingsImage.h"
#include "SetupBlock.h"
#include "SettingsTestHome.h"
#include "fixture_paths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A private copy of a generated card.
QString copyCard(const QString &name, const QString &to)
{
    const ProcessRun r = runProcess("cp", {"-a", fixtureDir() + "/" + name, to});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    return to;
}

// md5sum of every file below root, as "sum  relative/path" lines.
std::string cardSums(const QString &root, const QStringList &skip = {})
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = QDir(root).relativeFilePath(it.next());
        if (!skip.contains(rel))
            files << rel;
    }
    files.sort();
    QProcess p;
    p.setWorkingDirectory(root);
    p.start("md5sum", files);
    p.waitForFinished(60000);
    return p.readAllStandardOutput().toStdString();
}

std::string fileNames(const QString &root)
{
    QStringList names;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        names << QDir(root).relativeFilePath(it.next());
    names.sort();
    return names.join('\n').toStdString();
}

} // namespace

TEST(CardWrites, SetupBlockChangesOnlyItsBytesOfTheIndexFile)
{
    SettingsTestHome home;
    QTemporaryDir tmp;
    const QString card = copyCard("index", tmp.filePath("card"));
    const QString indexPath = card + "/index.ibx";
    const QByteArray before = readFile(indexPath);
    const std::string dataSums = cardSums(card, {"index.ibx"});
    const std::string names = fileNames(card);

    Reader reader;
    ASSERT_EQ(reader.openIndexFile(card), 0);
    const CardSettings settings = CardSettings::fromReader(reader);
    ASSERT_TRUE(settings.faithful) << settings.reason.toStdString();
    const ConfigValues loaded = SetupBlock::load(settings.setupBlock, Config::defaults(), QByteArray());
    ConfigValues edited = loaded;
    edited.volume = loaded.volume == 1 ? 2 : 1;
    edited.gmt = -14;
    const QByteArray block = SetupBlock::store(settings.setupBlock, edited, loaded);
    QString error;
    ASSERT_EQ(writeCardSetupBlock(reader, settings, block, &error), 0) << error.toStdString();

    const QByteArray after = readFile(indexPath);
    ASSERT_EQ(after.size(), before.size());
    for (int i = 0; i < after.size(); ++i) {
        const bool mayChange = i == 512000 + 12 || i == 512000 + 28 || i == 512000 + 17;
        if (!mayChange) {
            ASSERT_EQ(after[i], before[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(quint8(after[512000 + 28]), 242);
    EXPECT_EQ(cardSums(card, {"index.ibx"}), dataSums);
    EXPECT_EQ(fileNames(card), names);   // no temporary file left behind

    // A new reader sees the change.
    Reader again;
    ASSERT_EQ(again.openIndexFile(card), 0);
    EXPECT_EQ(SetupBlock::load(again.setupBlock(), Config::defaults(), QByteArray()).gmt, -14);
}

TEST(CardWrites, SettingsImageReplacesTheFileThenWritesTheModFlag)
{
    SettingsTestHome home;
    QTemporaryDir tmp;
    const QString card = copyCard("record", tmp.filePath("card"));
    const QString cfg = card + "/Config/ZidavOva.cfg";
    const std::string others = cardSums(card, {"Config/ZidavOva.cfg"});

    Reader reader;
    ASSERT_GT(reader.scanCard(card), 0);
    const CardSettings settings = CardSettings::fromReader(reader);
    ASSERT_TRUE(settings.faithful) << settings.reason.toStdString();
    QByteArray image = settings.image;
    auto *data = reinterpret_cast<unsigned char *>(image.data());
    const PavonaValues loaded = PavonaConfig::fromImage(data, PavonaValues());
    PavonaValues edited = loaded;
    edited.volume = 5;
    PavonaConfig::toImage(data, edited, loaded);

    // Unchanged: nothing written, no flag.
    QString error;
    ASSERT_EQ(writeCardSettingsImage(reader, settings, reinterpret_cast<const unsigned char *>(settings.image.constData()), &error), 0);
    EXPECT_FALSE(QFile::exists(cfg + ".mod"));

    ASSERT_EQ(writeCardSettingsImage(reader, settings, data, &error), 0) << error.toStdString();
    EXPECT_EQ(readFile(cfg + ".mod"), QByteArray("config::1 "));
    const QByteArray written = readFile(cfg);
    ASSERT_EQ(written.size(), 18344);
    EXPECT_EQ(written.mid(18216, 32), toolOutput("sh", {"-c", "head -c 18216 \"$0\" | md5sum", cfg}).left(32));
    EXPECT_EQ(leAt(written, 13452, 4), 5u);
    EXPECT_EQ(leAt(written, 13456, 4), 5u);
    EXPECT_EQ(cardSums(card, {"Config/ZidavOva.cfg", "Config/ZidavOva.cfg.mod"}), others);
    EXPECT_EQ(fileNames(card + "/Config"), "ZidavOva.cfg\nZidavOva.cfg.mod");
}

TEST(CardWrites, FailedWritesLeaveTheCardAsItWas)
{
    SettingsTestHome home;
    QTemporaryDir tmp;
    const QString indexCard = copyCard("index", tmp.filePath("index"));
    const QString recordCard = copyCard("record", tmp.filePath("record"));
    const QString cfg = recordCard + "/Config/ZidavOva.cfg";

    Reader indexReader;
    ASSERT_EQ(indexReader.openIndexFile(indexCard), 0);
    const CardSettings block = CardSettings::fromReader(indexReader);
    QByteArray changedBlock = block.setupBlock;
    changedBlock[12] = char(changedBlock[12] ^ 1);

    Reader recordReader;
    ASSERT_GT(recordReader.scanCard(recordCard), 0);
    const CardSettings image = CardSettings::fromReader(recordReader);
    QByteArray changedImage = image.image;
    changedImage[13452] = char(changedImage[13452] ^ 1);
    const auto *imageData = reinterpret_cast<const unsigned char *>(changedImage.constData());

    const std::string indexSums = cardSums(indexCard), recordSums = cardSums(recordCard);
    const std::string indexNames = fileNames(indexCard), recordNames = fileNames(recordCard);
    const struct {
        const char *name;
        std::function<void()> arrange, undo;
    } faults[] = {
        {"short write", [] { SafeFileWrite::setWriteLimitForTesting(100); }, [] { SafeFileWrite::setWriteLimitForTesting(-1); }},
        {"read-only files",
         [&] {
             QFile::setPermissions(cfg, QFile::ReadOwner);
             QFile::setPermissions(indexCard + "/index.ibx", QFile::ReadOwner);
         },
         [&] {
             QFile::setPermissions(cfg, QFile::ReadOwner | QFile::WriteOwner);
             QFile::setPermissions(indexCard + "/index.ibx", QFile::ReadOwner | QFile::WriteOwner);
         }},
        {"missing Config folder", [&] { QDir().rename(recordCard + "/Config", tmp.filePath("Config.away")); },
         [&] { QDir().rename(tmp.filePath("Config.away"), recordCard + "/Config"); }},
    };
    for (const auto &f : faults) {
        f.arrange();
        QString error;
        EXPECT_EQ(writeCardSettingsImage(recordReader, image, imageData, &error), -1) << f.name;
        EXPECT_FALSE(error.isEmpty()) << f.name;
        if (QByteArray(f.name) != "missing Config folder") {
            EXPECT_EQ(writeCardSetupBlock(indexReader, block, changedBlock, &error), -1) << f.name;
            EXPECT_TRUE(error.contains("index.ibx")) << f.name << ": " << error.toStdString();
        }
        f.undo();
        EXPECT_EQ(cardSums(indexCard), indexSums) << f.name;
        EXPECT_EQ(cardSums(recordCard), recordSums) << f.name;
        EXPECT_EQ(fileNames(indexCard), indexNames) << f.name;
        EXPECT_EQ(fileNames(recordCard), recordNames) << f.name;
    }
}

TEST(CardWrites, NothingIsWrittenWithoutAFaithfulSourceOfTheOpenCard)
{
    SettingsTestHome home;
    QTemporaryDir tmp;
    const QString a = copyCard("index", tmp.filePath("a"));
    const QString b = copyCard("index", tmp.filePath("b"));
    const QString rec = copyCard("record", tmp.filePath("rec"));
    Reader reader;
    ASSERT_EQ(reader.openIndexFile(a), 0);
    CardSettings fromA = CardSettings::fromReader(reader);
    QByteArray block = fromA.setupBlock;
    block[12] = char(block[12] ^ 1);
    ASSERT_EQ(reader.openIndexFile(b), 0);   // another card is open now
    QString error;
    EXPECT_EQ(writeCardSetupBlock(reader, fromA, block, &error), -1);

    // A settings file with a flipped byte is read, shown, but not written.
    QByteArray file = readFile(rec + "/Config/ZidavOva.cfg");
    file[30] = char(file[30] ^ 1);
    ASSERT_TRUE(writeFile(rec + "/Config/ZidavOva.cfg", file));
    const std::string recSums = cardSums(tmp.path());
    ASSERT_GT(reader.scanCard(rec), 0);
    const CardSettings damaged = CardSettings::fromReader(reader);
    EXPECT_TRUE(damaged.read);
    EXPECT_FALSE(damaged.faithful);
    EXPECT_TRUE(damaged.reason.contains("MD5")) << damaged.reason.toStdString();
    EXPECT_EQ(writeCardSettingsImage(reader, damaged, reinterpret_cast<const unsigned char *>(damaged.image.constData()), &error), -1);

    // A folder of recordings has no card at all.
    ASSERT_GT(reader.scanFolder(rec + "/record"), 0);
    const CardSettings folder = CardSettings::fromReader(reader);
    EXPECT_FALSE(folder.read);
    EXPECT_EQ(writeCardSettingsImage(reader, folder, reinterpret_cast<const unsigned char *>(damaged.image.constData()), &error), -1);
    EXPECT_EQ(cardSums(tmp.path()), recSums);
}
