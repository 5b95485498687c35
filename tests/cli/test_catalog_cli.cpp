// `zidavova-tool catalog` on the generated cards: every listed recording,
// field by field as the generator wrote it, and a one-line error with exit
// code 1 wherever the whole source fails.
#include "ProcessRun.h"
#include "fixture_paths.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

struct Catalog { int code; QJsonObject out; QByteArray err; };

Catalog catalog(const QStringList &args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TZ", "UTC"); // file-name times are local wall-clock; the cards are written in UTC
    const ProcessRun r = runProcess(binaryDir() + "/cli/zidavova-tool", QStringList{"catalog"} + args, {}, env);
    return {r.exitCode, QJsonDocument::fromJson(r.out).object(), r.err};
}

QString card(const QString &name) { return fixtureDir() + "/" + name; }
QJsonObject manifest(const QString &name) { return QJsonDocument::fromJson(readFile(card(name + ".json"))).object(); }

QJsonArray listed(const QJsonObject &manifest)
{
    QJsonArray kept;
    for (const QJsonValue &e : manifest.value("entries").toArray())
        if (e.toObject().value("listed").toBool(true))
            kept.append(e);
    return kept;
}

void expectFailure(const Catalog &r)
{
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
}

// Head fields and the listed entries; bank sources are matched by file name
// and offset, record sources by position (both in sequence order).
void compare(const QJsonObject &got, const QJsonObject &want, int mode, bool archive = false)
{
    EXPECT_EQ(got.value("mode").toInt(), mode);
    EXPECT_EQ(got.value("channels"), want.value("channels"));
    // Sizes of the channels below the channel count (a 16-stream file's trailer names 8).
    EXPECT_EQ(got.value("sizes").toArray(), QJsonArray::fromVariantList(
                  want.value("sizes").toArray().toVariantList().mid(0, want.value("channels").toInt())));
    if (mode == 1) {
        EXPECT_EQ(got.value("model"), want.value("model"));
    }
    const QJsonArray entries = got.value("entries").toArray(), expected = listed(want);
    ASSERT_EQ(entries.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QJsonObject w = expected[i].toObject();
        SCOPED_TRACE(QJsonDocument(w).toJson(QJsonDocument::Compact).left(200).toStdString());
        QJsonObject e = entries[i].toObject();
        for (int j = 0; mode == 1 && j < entries.size(); ++j) {
            e = entries[j].toObject();
            if (QFileInfo(e.value("path").toString()).fileName() == QFileInfo(w.value("path").toString()).fileName()
                && e.value("offset") == w.value("offset"))
                break;
        }
        EXPECT_TRUE(e.value("path").toString().endsWith(QFileInfo(w.value("path").toString()).fileName()));
        const QStringList fields = mode == 1
            ? QStringList{"offset", "start", "end", "bankSeq", "sortKey", "status", "channels", "dataEnd", "bankSize"}
            : QStringList{"sequence", "eventKind", "parking", "flag3", "flag4", "isMF2", "duration", "trailerChannels", "start"};
        for (const QString &field : fields)
            EXPECT_EQ(e.value(field).toDouble(), w.value(field).toDouble()) << field.toStdString();
        if (mode == 1) {
            EXPECT_EQ(e.value("type").toInt(), w.value("event").toBool() ? 1 : 0);
            // Archives number blocks by bank serial; the cards' recordings follow each other closely.
            EXPECT_EQ(e.value("block").toInt(), archive ? w.value("bankSeq").toInt() : 1);
            EXPECT_LE(entries[std::max(i - 1, 0)].toObject().value("sortKey").toDouble(), entries[i].toObject().value("sortKey").toDouble());
        } else {
            EXPECT_TRUE(e.value("path").toString().endsWith(w.value("path").toString()));
            EXPECT_EQ(e.value("end").toDouble(), w.value("start").toDouble() + w.value("duration").toDouble());
            EXPECT_EQ(e.value("type").toInt(), w.value("eventKind").toInt() == 0 ? 0 : (w.value("parking").toInt() ? 3 : 2));
        }
    }
}

TEST(CatalogCli, IndexCardsAndArchives)
{
    const struct { const char *source, *manifest, *password; } cards[] = {
        {"index", "index", nullptr}, {"index-dat", "index-dat", nullptr}, {"index-damaged", "index-damaged", nullptr},
        {"index-pw", "index-pw", "1234"}, {"index.smb", "index-dat", nullptr}, {"index-pw.smb", "index-pw", "secret12"}};
    for (const auto &c : cards) {
        SCOPED_TRACE(c.source);
        const bool archive = QString(c.source).endsWith(".smb");
        const Catalog r = catalog(c.password ? QStringList{card(c.source), "--password", c.password} : QStringList{card(c.source)});
        ASSERT_EQ(r.code, 0) << r.err.constData();
        QJsonObject want = manifest(c.manifest);
        if (archive) {
            const QJsonObject head = want;
            want = want.value("archive").toObject();
            want.insert("sizes", head.value("sizes"));
            want.insert("model", head.value("model"));
        }
        compare(r.out, want, 1, archive);
    }
}

TEST(CatalogCli, RecordCardsFoldersAndSingleFiles)
{
    const QStringList sources[] = {{"record"}, {"record-mixed"}, {"record-16"}, {"record-mf2pw", "--password", "abcd"}};
    for (QStringList args : sources) {
        SCOPED_TRACE(args[0].toStdString());
        const QString name = args[0];
        args[0] = card(name);
        const Catalog r = catalog(args);
        ASSERT_EQ(r.code, 0) << r.err.constData();
        compare(r.out, manifest(name), 2);
    }
    // The record folder itself, as a loose folder.
    const QJsonObject mixed = manifest("record-mixed");
    EXPECT_EQ(catalog({card("record-mixed/record")}).out.value("entries").toArray().size(), listed(mixed).size());

    // Single files: a form-B name opens; a file carrying another file's trailer does not.
    for (const QJsonValue &v : mixed.value("entries").toArray()) {
        const QJsonObject w = v.toObject();
        SCOPED_TRACE(w.value("name").toString().toStdString());
        const Catalog one = catalog({card("record-mixed/" + w.value("path").toString())});
        if (!w.value("listed").toBool()) {
            expectFailure(one);
            continue;
        }
        ASSERT_EQ(one.out.value("entries").toArray().size(), 1);
        EXPECT_EQ(one.out.value("entries")[0].toObject().value("sequence"), w.value("sequence"));
    }
}

TEST(CatalogCli, WholeSourceFailuresAreOneLineErrors)
{
    QTemporaryDir empty;
    const QStringList failing[] = {
        {card("index-pw")}, {card("index-pw"), "--password", "123"}, {card("index-pw.smb"), "--password", "secret1"},
        {card("record-mf2pw")}, {card("record-mf2pw"), "--password", "abcd", "--mf2-keys", "1,2,3"},
        {card("no-such-card")}, {empty.path()}, {card("index.json")}, {card("index/00.ibx")}};
    for (const QStringList &args : failing) {
        SCOPED_TRACE(args.join(' ').toStdString());
        expectFailure(catalog(args));
    }
    // No source at all is a refused argument, not a failed source.
    const Catalog none = catalog({});
    EXPECT_EQ(std::pair(none.code, int(none.err.count('\n'))), std::pair(2, 1));
}

} // namespace
