// Refused options and repeatability, by running the generator itself.
#include "cardgen_test_util.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kCardgen = QStringLiteral(CARDGEN_PATH);

struct BadCase
{
    const char *what;
    QStringList args;   // after "index|record OUTDIR"
    const char *store;
};

class RefusedOptions : public testing::TestWithParam<BadCase> {};

TEST_P(RefusedOptions, OneLineErrorExitTwoAndNothingWritten)
{
    QTemporaryDir tmp;
    const QString out = tmp.filePath(QStringLiteral("card"));
    const BadCase &c = GetParam();
    const RunResult r = run(kCardgen, QStringList{QString::fromLatin1(c.store), out} + c.args);
    EXPECT_EQ(r.exitCode, 2) << c.what;
    EXPECT_EQ(r.err.count('\n'), 1) << c.what << ": " << r.err.constData();
    EXPECT_TRUE(r.err.startsWith("cardgen: ")) << r.err.constData();
    EXPECT_FALSE(QFileInfo::exists(out)) << c.what << ": the refused run left files behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cardgen, RefusedOptions,
    testing::Values(
        BadCase{"odd width", {"--size", "321x240"}, "record"},
        BadCase{"odd height in a list", {"--sizes", "320x240,640x361"}, "record"},
        BadCase{"index size without a usable code", {"--size", "1920x1080"}, "index"},
        BadCase{"nine index channels", {"--channels", "9"}, "index"},
        BadCase{"nine record channels", {"--channels", "9"}, "record"},
        BadCase{"seventeen video streams", {"--video-streams", "17"}, "record"},
        BadCase{"bank too small for header and frames",
                {"--bank-size", "36864", "--recordings", "1", "--seconds", "1", "--fps", "10"}, "index"},
        BadCase{"bank too small for a header at the end",
                {"--bank-size", "204800", "--header-at", "end", "--recordings", "1", "--seconds", "1"}, "index"},
        BadCase{"archive with the header near the start", {"--archive", "x.smb"}, "index"},
        BadCase{"card password of nine characters", {"--password", "123456789"}, "index"},
        BadCase{"archive password of 13 bytes",
                {"--header-at", "end", "--archive", "a.smb", "--archive-password", "1234567890123"}, "index"},
        BadCase{"parked event on an index card", {"--events", "NP"}, "index"},
        BadCase{"record-only damage on an index card", {"--damage", "zero-length"}, "index"},
        BadCase{"unknown damage", {"--damage", "melted"}, "record"},
        BadCase{"key index 3", {"--format", "mf2", "--mf2-key-index", "3"}, "record"},
        BadCase{"unknown option", {"--colour", "red"}, "record"},
        BadCase{"missing value", {"--fps"}, "record"}));

TEST(Cardgen, RefusesAFolderThatHoldsFiles)
{
    QTemporaryDir tmp;
    QFile keep(tmp.filePath(QStringLiteral("photo.jpg")));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("mine");
    keep.close();
    const RunResult r = run(kCardgen, {QStringLiteral("record"), tmp.path()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"photo.jpg"});
    EXPECT_EQ(readBytes(keep.fileName()), QByteArray("mine"));
}

QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), readBytes(path));
    }
    return files;
}

// The same options twice give the same bytes, whatever the clock says.
TEST(Cardgen, SameOptionsGiveIdenticalCards)
{
    const QList<QStringList> cards = {
        {"index", "--channels", "2", "--recordings", "2", "--seconds", "1", "--fps", "10", "--events", "NE",
         "--header-at", "end", "--password", "ab12", "--damage", "time-backward"},
        {"record", "--channels", "2", "--recordings", "2", "--seconds", "1", "--fps", "10", "--format", "mixed",
         "--mf2-password", "abcd", "--size", "64x48"}};
    for (const QStringList &card : cards) {
        QTemporaryDir tmp;
        QList<QMap<QString, QByteArray>> runs;
        for (const char *name : {"a", "b"}) {
            const QString out = tmp.filePath(QString::fromLatin1(name));
            QStringList args = card;
            args.insert(1, out);
            const RunResult r = run(kCardgen, args);
            ASSERT_EQ(r.exitCode, 0) << r.err.constData();
            runs.append(tree(out));
        }
        EXPECT_FALSE(runs[0].isEmpty());
        EXPECT_EQ(runs[0].keys(), runs[1].keys());
        for (auto it = runs[0].cbegin(); it != runs[0].cend(); ++it)
            EXPECT_TRUE(it.value() == runs[1].value(it.key())) << card[0].toStdString() << ": " << it.key().toStdString();
    }
}

} // namespace
