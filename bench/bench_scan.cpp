// Catalogue scan figures: a record folder of 5,000 recordings (warm cache),
// timed per thousand files with the read calls per file counted, beside a
// bare listing of the same folder; and the bank load of a 64-bank index card,
// which must read only bank starts and headers.
#include "FileAccess.h"
#include "Reader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr int Recordings = 5000;
constexpr int Rounds = 5;
constexpr double TargetMsPerRecording = 0.3;

void put32(char *p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xff);
}

void writeRecordFolder(const QString &dir)
{
    for (int i = 0; i < Recordings; ++i) {
        const QByteArray name = QStringLiteral("REC_%1_20230314-%2_NDNN.mp4")
                                    .arg(i + 1, 7, 10, QLatin1Char('0'))
                                    .arg(i % 240000, 6, 10, QLatin1Char('0'))
                                    .toLatin1();
        char bytes[1024 + 1696 + 352] = {};
        memset(bytes, 'm', 1024);
        char *trailer = bytes + 1024;
        memcpy(trailer, name.constData(), size_t(name.size()));
        trailer[64] = 4;
        for (int c = 0; c < 4; ++c) {
            put32(trailer + 68 + 8 * c, 1920);
            put32(trailer + 72 + 8 * c, 1080);
        }
        put32(trailer + 136, 60);
        QFile f(dir + QLatin1Char('/') + QString::fromLatin1(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes, sizeof bytes);
    }
}

// A 64-bank card with 8 MiB banks; the data file is sparse apart from the
// bank starts and headers.
void writeIndexCard(const QString &dir, quint32 bankSize, int banks)
{
    QByteArray index(512431, '\0');
    put32(index.data() + 84, bankSize);
    index[28] = 4;
    QFile i(dir + "/index.ibx");
    i.open(QIODevice::WriteOnly);
    i.write(index);
    QFile d(dir + "/00.ibx");
    d.open(QIODevice::WriteOnly);
    d.resize(qint64(bankSize) * banks);
    for (int b = 0; b < banks; ++b) {
        const qint64 at = qint64(b) * bankSize;
        d.seek(at + 162);
        d.write("5", 1);
        char header[203] = {};
        header[0] = 0x11;
        header[1] = 0x11;
        header[2] = char(b);
        header[4] = 1;
        put32(header + 7, 40000);
        put32(header + 19, 1700000060 + 60 * b);
        put32(header + 23, 1700000000 + 60 * b);
        put32(header + 32, quint32(b));
        header[36] = 4;
        d.seek(at + bankSize - 204800);
        d.write(header, sizeof header);
    }
}

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    const QString folder = tmp.path() + "/record";
    QDir().mkpath(folder);
    writeRecordFolder(folder);

    Reader reader;
    if (reader.scanFolder(folder) != Recordings) {
        fprintf(stderr, "bench_scan: the scan did not find %d recordings\n", Recordings);
        return 1;
    }
    QVector<double> scanMs, listMs;
    ReadStatistics reads;
    for (int r = 0; r < Rounds; ++r) {
        resetReadStatistics();
        QElapsedTimer t;
        t.start();
        reader.scanFolder(folder);
        scanMs.append(t.nsecsElapsed() / 1e6);
        reads = readStatistics();

        // The floor: listing the same names and asking each file's size.
        t.start();
        QDir dir(folder);
        const QStringList names = dir.entryList({"*.mp4", "*.mf2"}, QDir::Files, QDir::Name);
        struct stat st;
        for (const QString &n : names)
            stat(QFile::encodeName(dir.filePath(n)).constData(), &st);
        listMs.append(t.nsecsElapsed() / 1e6);
    }
    const double scan = median(scanMs);
    const double list = median(listMs);
    const double perRecording = scan / Recordings;
    printf("scan of %d recordings: %.1f ms per 1000 recordings (%.3f ms per recording, target %.1f: %s)\n",
           Recordings, scan * 1000 / Recordings, perRecording, TargetMsPerRecording,
           perRecording < TargetMsPerRecording ? "met" : "MISSED");
    printf("  reads per file: %.2f, bytes per read: %.0f\n", double(reads.calls) / Recordings,
           reads.calls ? double(reads.bytes) / reads.calls : 0.0);
    printf("  bare listing with stat: %.1f ms per 1000 (scan/listing ratio %.2f)\n",
           list * 1000 / Recordings, scan / list);

    const QString card = tmp.path() + "/card";
    QDir().mkpath(card);
    constexpr quint32 BankSize = 8u << 20;
    constexpr int Banks = 64;
    writeIndexCard(card, BankSize, Banks);
    QVector<double> loadMs;
    for (int r = 0; r < Rounds; ++r) {
        reader.openIndexFile(card);
        resetReadStatistics();
        QElapsedTimer t;
        t.start();
        const int loaded = reader.loadBanks(card);
        loadMs.append(t.nsecsElapsed() / 1e6);
        reads = readStatistics();
        if (loaded != Banks) {
            fprintf(stderr, "bench_scan: load banks found %d of %d banks\n", loaded, Banks);
            return 1;
        }
    }
    printf("load banks of a %d-bank card (%u MiB banks): %.2f ms, %llu reads of %llu bytes in all "
           "(only bank starts and headers: %s)\n",
           Banks, BankSize >> 20, median(loadMs), static_cast<unsigned long long>(reads.calls),
           static_cast<unsigned long long>(reads.bytes),
           reads.calls == 2u * Banks && reads.bytes == 2u * Banks * 203 ? "yes" : "NO");
    return 0;
}
