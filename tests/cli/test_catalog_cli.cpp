// `zidavova-tool catalog` on the generated cards: every listed recording,
// field by field as the generator wrote it, and a one-line error with exit
// code 1 wherever the whole source fails.
#include "fixture_paths.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int code;
    QJsonObject out;
    QString err;
};

ToolRun catalog(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TZ", "UTC");   // file-name times are local wall-clock; the cards are written in UTC
    p.setProcessEnvironment(env);
    p.start(binaryDir() + "/cli/zidavova-tool", QStringList{"catalog"} + args);
    p.waitForFinished(60000);
    return {p.exitCode(), QJsonDocument::fromJson(p.readAllStandardOutput()).object(),
            QString::fromUtf8(p.readAllStandardError())};
}

QJsonObject manifest(const QString &name)
{
    QFile f(fixtureDir() + "/" + name + ".json");
    f.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(f.readAll()).object();
}

QJsonArray listed(const QJsonArray &entries)
{
    QJsonArray kept;
    for (const QJsonValue &e : entries) {
        if (e.toObject().value("listed").toBool(true))
            kept.append(e);
    }
    return kept;
}

// The catalogue entry whose path ends like the manifest's and, for banks,
// whose offset matches.
QJsonObject find(const QJsonArray &entries, const QJsonObject &want, bool bank)
{
    const QString tail = QFileInfo(want.value("path").toString()).fileName();
    for (const QJsonValue &v : entries) {
        const QJsonObject e = v.toObject();
        if (QFileInfo(e.value("path").toString()).fileName() == tail
            && (!bank || e.value("offset") == want.value("offset")))
            return e;
    }
    return {};
}

void compareHead(const QJsonObject &got, const QJsonObject &want, int mode)
{
    EXPECT_EQ(got.value("mode").toInt(), mode);
    EXPECT_EQ(got.value("channels"), want.value("channels"));
    // Sizes of the channels below the channel count (a 16-stream file's trailer names 8).
    const QJsonArray wantSizes = want.value("sizes").toArray();
    QJsonArray expectedSizes;
    for (int c = 0; c < want.value("channels").toInt() && c < wantSizes.size(); ++c)
        expectedSizes.append(wantSizes[c]);
    EXPECT_EQ(QJsonDocument(got.value("sizes").toArray()).toJson().toStdString(),
              QJsonDocument(expectedSizes).toJson().toStdString());
    if (mode == 1) {
        EXPECT_EQ(got.value("model"), want.value("model"));
    }
}

void compareBanks(const QJsonObject &got, const QJsonObject &want, bool archive)
{
    compareHead(got, want, 1);
    const QJsonArray entries = got.value("entries").toArray();
    const QJsonArray expected = listed(want.value("entries").toArray());
    ASSERT_EQ(entries.size(), expected.size());
    for (const QJsonValue &v : expected) {
        const QJsonObject w = v.toObject();
        const QJsonObject e = find(entries, w, true);
        SCOPED_TRACE(QJsonDocument(w).toJson(QJsonDocument::Compact).left(200).toStdString());
        ASSERT_FALSE(e.isEmpty());
        for (const char *field : {"start", "end", "bankSeq", "sortKey", "status", "channels", "dataEnd", "bankSize"})
            EXPECT_EQ(e.value(field), w.value(field)) << field;
        EXPECT_EQ(e.value("type").toInt(), w.value("event").toBool() ? 1 : 0);
        // Archives number blocks by bank serial; the cards' recordings follow each other closely.
        EXPECT_EQ(e.value("block").toInt(), archive ? w.value("bankSeq").toInt() : 1);
    }
    for (int i = 1; i < entries.size(); ++i)
        EXPECT_LE(entries[i - 1].toObject().value("sortKey").toDouble(), entries[i].toObject().value("sortKey").toDouble());
}

void compareFiles(const QJsonObject &got, const QJsonObject &want)
{
    compareHead(got, want, 2);
    const QJsonArray entries = got.value("entries").toArray();
    const QJsonArray expected = listed(want.value("entries").toArray());
    ASSERT_EQ(entries.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QJsonObject w = expected[i].toObject();
        const QJsonObject e = entries[i].toObject();   // both in sequence order
        SCOPED_TRACE(w.value("name").toString().toStdString());
        EXPECT_TRUE(e.value("path").toString().endsWith(w.value("path").toString()));
        for (const char *field : {"sequence", "eventKind", "parking", "flag3", "flag4", "isMF2", "duration",
                                  "trailerChannels", "start"})
            EXPECT_EQ(e.value(field).toDouble(), w.value(field).toDouble()) << field;
        EXPECT_EQ(e.value("end").toDouble(), w.value("start").toDouble() + w.value("duration").toDouble());
        const int type = w.value("eventKind").toInt() == 0 ? 0 : (w.value("parking").toInt() ? 3 : 2);
        EXPECT_EQ(e.value("type").toInt(), type);
    }
}

void expectFailure(const ToolRun &r)
{
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
}

} // namespace

TEST(CatalogCli, IndexCardsAndArchives)
{
    const QString dir = fixtureDir();
    const struct {
        const char *source, *manifest, *password;
        bool archive;
    } cards[] = {
        {"index", "index", nullptr, false},
        {"index-dat", "index-dat", nullptr, false},
        {"index-damaged", "index-damaged", nullptr, false},
        {"index-pw", "index-pw", "1234", false},
        {"index.smb", "index-dat", nullptr, true},
        {"index-pw.smb", "index-pw", "secret12", true},
    };
    for (const auto &c : cards) {
        SCOPED_TRACE(c.source);
        QStringList args{dir + "/" + c.source};
        if (c.password)
            args << "--password" << c.password;
        const ToolRun r = catalog(args);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        QJsonObject want = manifest(c.manifest);
        if (c.archive) {
            const QJsonObject head = want;
            want = want.value("archive").toObject();
            want.insert("sizes", head.value("sizes"));
            want.insert("model", head.value("model"));
        }
        compareBanks(r.out, want, c.archive);
    }
}

TEST(CatalogCli, RecordCardsFoldersAndSingleFiles)
{
    const QString dir = fixtureDir();
    for (const char *card : {"record", "record-mixed", "record-16"}) {
        SCOPED_TRACE(card);
        const ToolRun r = catalog({dir + "/" + card});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        compareFiles(r.out, manifest(card));
    }
    const ToolRun locked = catalog({dir + "/record-mf2pw", "--password", "abcd"});
    ASSERT_EQ(locked.code, 0) << locked.err.toStdString();
    compareFiles(locked.out, manifest("record-mf2pw"));

    // The record folder itself, as a loose folder.
    const ToolRun folder = catalog({dir + "/record-mixed/record"});
    ASSERT_EQ(folder.code, 0);
    EXPECT_EQ(folder.out.value("entries").toArray().size(), listed(manifest("record-mixed").value("entries").toArray()).size());

    // Single files: a form-B name opens; a file carrying another file's trailer does not.
    for (const QJsonValue &v : manifest("record-mixed").value("entries").toArray()) {
        const QJsonObject w = v.toObject();
        SCOPED_TRACE(w.value("name").toString().toStdString());
        const ToolRun one = catalog({dir + "/record-mixed/" + w.value("path").toString()});
        if (!w.value("listed").toBool()) {
            expectFailure(one);
            continue;
        }
        ASSERT_EQ(one.code, 0);
        ASSERT_EQ(one.out.value("entries").toArray().size(), 1);
        EXPECT_EQ(one.out.value("entries").toArray()[0].toObject().value("sequence"), w.value("sequence"));
    }
}

TEST(CatalogCli, WholeSourceFailuresAreOneLineErrors)
{
    const QString dir = fixtureDir();
    QTemporaryDir empty;
    const QStringList failing[] = {
        {dir + "/index-pw"},
        {dir + "/index-pw", "--password", "123"},
        {dir + "/index-pw.smb", "--password", "secret1"},
        {dir + "/record-mf2pw"},
        {dir + "/record-mf2pw", "--password", "abcd", "--mf2-keys", "1,2,3"},
        {dir + "/no-such-card"},
        {empty.path()},
        {dir + "/index.json"},
        {dir + "/index/00.ibx"},
        {},
    };
    for (const QStringList &args : failing) {
        SCOPED_TRACE(args.join(' ').toStdString());
        expectFailure(catalog(args));
    }
}
