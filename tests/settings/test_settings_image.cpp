// The settings image file against a generator written here from the file
// layout (not from the loader): random valid images must load and save back
// byte for byte, exactly the listed bytes are kept, and damaged files are
// refused whole.
#include "PavonaConfig.h"
#include "ProcessRun.h"
#include "SettingsImage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

constexpr int Data = 18216, File = 18344;

void put32(QByteArray &b, int at, quint32 v)
{
    for (int k = 0; k < 4; ++k)
        b[at + k] = char(quint8(v >> (8 * k)));
}

// The layout as a list of spans, texts and counted lists.
struct Generator {
    QRandomGenerator rng;
    QByteArray data = QByteArray(Data, '\0');
    QVector<char> kept = QVector<char>(Data, 0);

    explicit Generator(quint32 seed) : rng(seed) {}

    void span(int at, int len)
    {
        QVector<quint32> words((len + 3) / 4);
        rng.fillRange(words.data(), words.size());
        std::memcpy(data.data() + at, words.constData(), size_t(len));
        std::memset(kept.data() + at, 1, size_t(len));
    }
    bool fullCounts = false;   // every count at its bound, every text filling its field

    void text(int at, int size)
    {
        const int len = fullCounts ? size : int(rng.bounded(size + 1));
        for (int i = 0; i < len; ++i) {
            data[at + i] = char(1 + rng.bounded(255));
            kept[at + i] = 1;
        }
    }
    int count(int at, int bound)
    {
        const int n = fullCounts ? bound : int(rng.bounded(bound + 1));
        put32(data, at, quint32(n));
        for (int i = 0; i < 4; ++i)
            kept[at + i] = 1;
        return n;
    }
    // Like count, but the number sits inside an entry already filled.
    int subCount(int at, int bound) { return count(at, bound); }

    QByteArray build()
    {
        span(24, 392);
        span(640, 4);
        text(644, 64);
        text(708, 32);
        text(740, 32);
        for (int i = 0, n = count(772, 4); i < n; ++i) {
            const int e = 776 + 360 * i;
            text(e, 32);
            text(e + 32, 64);
            span(e + 96, 8);
            text(e + 104, 256);
        }
        span(2216, 12);
        for (int i = 0, n = count(2228, 8); i < n; ++i)
            span(2232 + 292 * i, 292);
        for (int i = 0, n = count(4568, 8); i < n; ++i) {
            const int e = 4572 + 944 * i;
            span(e, 140);
            const int subs = subCount(e + 140, 8);
            span(e + 144, 100 * subs);
        }
        for (int i = 0, n = count(12124, 8); i < n; ++i)
            span(12128 + 56 * i, 56);
        for (int i = 0, n = count(12576, 8); i < n; ++i) {
            const int e = 12580 + 108 * i;
            span(e, 4);
            const int subs = subCount(e + 4, 5);
            span(e + 8, 20 * subs);
        }
        span(13444, 16);
        span(13460, 20);
        span(13480, 32);
        span(13512, 16180 - 13512);
        text(16500, 128);
        span(16628, 88);
        span(16972, 28);
        span(17256, 4);
        span(17272, 40);
        span(17568, 4);
        span(17584, 2);
        for (int i = 0, n = count(17592, 8); i < n; ++i)
            span(17596 + 24 * i, 24);
        span(17788, Data - 17788);
        return fileFor(data);
    }

    static QByteArray fileFor(const QByteArray &d)
    {
        QByteArray f = d + QCryptographicHash::hash(d, QCryptographicHash::Md5).toHex();
        f.append(QByteArray(File - f.size(), '\0'));
        return f;
    }
};

struct Image {
    QByteArray bytes = QByteArray(Data, '\xEE');
    unsigned char *data() { return reinterpret_cast<unsigned char *>(bytes.data()); }
    bool zero() const { return bytes.count('\0') == Data; }
};

int load(const QString &path, Image &image)
{
    return PVNA_Msvr2Viewer(QFile::encodeName(path).constData(), image.data(), 0);
}

int save(const QString &path, Image &image)
{
    return PVNA_Msvr2Viewer(QFile::encodeName(path).constData(), image.data(), 1);
}

} // namespace

TEST(SettingsImage, RandomValidImagesLoadAndSaveBackByteForByte)
{
    QTemporaryDir tmp;
    const QString in = tmp.filePath("in.cfg"), out = tmp.filePath("out.cfg");
    for (quint32 seed = 1; seed <= 1000; ++seed) {
        Generator g(seed);
        const QByteArray file = g.build();
        Image image;
        const SettingsImage::LoadResult r = SettingsImage::parse(file, image.data());
        ASSERT_TRUE(r.read && r.faithful) << "seed " << seed << ": " << r.reason.toStdString();
        ASSERT_EQ(SettingsImage::keptBytes(image.data()), g.kept) << "seed " << seed;
        QByteArray saved;
        ASSERT_TRUE(SettingsImage::serialize(image.data(), &saved, nullptr));
        ASSERT_EQ(saved, file) << "seed " << seed;
        if (seed % 100 != 0)
            continue;
        // The files themselves, with the digest as a tool written elsewhere computes it.
        ASSERT_TRUE(writeFile(in, file));
        Image fromFile;
        ASSERT_EQ(load(in, fromFile), 0) << "seed " << seed;
        ASSERT_EQ(fromFile.bytes, image.bytes);
        ASSERT_EQ(save(out, fromFile), 0) << "seed " << seed;
        ASSERT_EQ(readFile(out), file) << "seed " << seed;
        const QByteArray sum = toolOutput("sh", {"-c", "head -c 18216 \"$0\" | md5sum", out}).left(32);
        EXPECT_EQ(readFile(out, 18216, 32), sum);
        EXPECT_EQ(readFile(out, 18248), QByteArray(96, '\0'));
    }
}

TEST(SettingsImage, OnlyTheListedBytesAreKeptAndEveryGapIsWrittenZero)
{
    // Every byte set, counts at their bounds: what the file keeps is
    // exactly the generator's map of the layout.
    Image image;
    image.bytes.fill('\xA5');
    put32(image.bytes, 772, 4);
    put32(image.bytes, 2228, 8);
    put32(image.bytes, 4568, 8);
    for (int i = 0; i < 8; ++i)
        put32(image.bytes, 4572 + 944 * i + 140, 8);
    put32(image.bytes, 12124, 8);
    put32(image.bytes, 12576, 8);
    for (int i = 0; i < 8; ++i)
        put32(image.bytes, 12580 + 108 * i + 4, 5);
    put32(image.bytes, 17592, 8);

    QTemporaryDir tmp;
    ASSERT_EQ(save(tmp.filePath("full.cfg"), image), 0);
    const QByteArray file = readFile(tmp.filePath("full.cfg"));
    ASSERT_EQ(file.size(), File);
    int keptCount = 0;
    const QVector<char> keptMap = SettingsImage::keptBytes(image.data());
    EXPECT_EQ(keptMap, [] { Generator full(0); full.fullCounts = true; full.build(); return full.kept; }());
    for (int i = 0; i < Data; ++i) {
        const bool kept = keptMap[i];
        ASSERT_EQ(file[i], kept ? image.bytes[i] : '\0') << "offset " << i;
        keptCount += kept;
    }
    // 16820 kept bytes: the sections at full counts, nothing more.
    EXPECT_EQ(keptCount, 392 + 4 + 64 + 64 + 4 + 4 * 360 + 12 + 4 + 8 * 292 + 4 + 8 * 944 + 4 + 8 * 56 + 4
                  + 8 * 108 + 16 + 20 + 32 + 2668 + 128 + 88 + 28 + 4 + 40 + 4 + 2 + 4 + 8 * 24 + 428);
}

TEST(SettingsImage, DamagedFilesAreRefusedWithAZeroImage)
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("bad.cfg");
    const QByteArray good = Generator(3).build();
    struct Case {
        std::string name;
        QByteArray file;
    };
    std::vector<Case> cases;
    for (int size : {0, 127, 128, 18343, 18345, 2 * 1024 * 1024 + 1})
        cases.push_back({"size " + std::to_string(size), (good + QByteArray(size, '\0')).left(size)});
    // Counts beyond their room, with a digest that matches.
    const struct {
        int at;
        quint32 bound;
    } counts[] = {{772, 4}, {2228, 8}, {4568, 8}, {12124, 8}, {12576, 8}, {17592, 8}};
    for (const auto &c : counts) {
        for (quint32 value : {c.bound + 1, 0xFFFFFFFFu}) {
            QByteArray d = good.left(Data);
            put32(d, c.at, value);
            cases.push_back({"count at " + std::to_string(c.at) + " = " + std::to_string(value), Generator::fileFor(d)});
        }
    }
    // Sub-counts: a partition with 9 sub-entries, a schedule group with 6 items.
    for (const auto &sub : {std::make_pair(4568, 4572 + 140), std::make_pair(12576, 12580 + 4)}) {
        QByteArray d = good.left(Data);
        put32(d, sub.first, 1);
        put32(d, sub.second, sub.first == 4568 ? 9 : 6);
        cases.push_back({"sub-count at " + std::to_string(sub.second), Generator::fileFor(d)});
    }
    // One flipped byte in each section and in the digest.
    for (int at : {30, 650, 2220, 2300, 5000, 12600, 13450, 13470, 13490, 14000, 16980, 17600, 18000, 18220}) {
        QByteArray f = good;
        f[at] = char(f[at] ^ 0x40);
        cases.push_back({"flipped byte " + std::to_string(at), f});
    }
    for (const Case &c : cases) {
        ASSERT_TRUE(writeFile(path, c.file));
        Image image;
        EXPECT_EQ(load(path, image), -1) << c.name;
        EXPECT_TRUE(image.zero()) << c.name;
    }
    Image image;
    EXPECT_EQ(load(tmp.filePath("missing.cfg"), image), -1);
    EXPECT_TRUE(image.zero());
}

TEST(SettingsImage, LoadingAThenBEqualsLoadingBFresh)
{
    QTemporaryDir tmp;
    const QString a = tmp.filePath("a.cfg"), b = tmp.filePath("b.cfg");
    ASSERT_TRUE(writeFile(a, Generator(11).build()));
    ASSERT_TRUE(writeFile(b, Generator(12).build()));
    Image both, fresh;
    ASSERT_EQ(load(a, both), 0);
    ASSERT_EQ(load(b, both), 0);
    ASSERT_EQ(load(b, fresh), 0);
    EXPECT_EQ(both.bytes, fresh.bytes);
    // A refused second file leaves nothing of the first.
    ASSERT_TRUE(writeFile(b, QByteArray(100, 'x')));
    EXPECT_EQ(load(b, both), -1);
    EXPECT_TRUE(both.zero());
}

TEST(SettingsImage, SavingAnImageWithACountBeyondItsRoomWritesNothing)
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("keep.cfg");
    const QByteArray before = Generator(5).build();
    ASSERT_TRUE(writeFile(path, before));
    Image image;
    ASSERT_EQ(load(path, image), 0);
    put32(image.bytes, 2228, 9);
    EXPECT_EQ(save(path, image), -1);
    EXPECT_EQ(readFile(path), before);
}

TEST(PavonaConfig, EachValueChangesOnlyItsOwnBytes)
{
    Generator g(21);
    QByteArray d = g.build().left(Data);
    put32(d, 2228, 3);   // three channels
    put32(d, 4568, 2);   // two partitions
    for (int p = 0; p < 2; ++p)
        put32(d, 4572 + 944 * p + 140, 0);
    const auto *image = reinterpret_cast<const unsigned char *>(d.constData());
    const PavonaValues loaded = PavonaConfig::fromImage(image, PavonaValues());

    auto channelFields = [](std::initializer_list<int> fields) {
        std::set<int> words;
        for (int c = 0; c < 3; ++c)
            for (int f : fields)
                words.insert(2232 + 292 * c + 4 * f);
        return words;
    };
    const struct {
        const char *name;
        std::function<void(PavonaValues &)> edit;
        std::set<int> words;   // first offsets of the 4-byte words (or bytes) allowed to change
        bool bytes;
    } cases[] = {
        {"GMT", [](PavonaValues &v) { v.gmt = 40; }, {2216}, false},
        {"Language", [](PavonaValues &v) { v.language = 3; }, {2224}, false},
        {"Volume", [](PavonaValues &v) { v.volume = 77; }, {13452, 13456}, false},
        {"TypCodec", [](PavonaValues &v) { v.typCodec = 2; }, channelFields({0}), false},
        {"QualityD", [](PavonaValues &v) { v.qualityD = 9; v.typCodec = 0; }, channelFields({0, 3}), false},
        {"FrameRateP", [](PavonaValues &v) { v.frameRateP = 9; v.typCodec = 1; }, channelFields({0, 7}), false},
        {"AudioSave", [](PavonaValues &v) { v.audioSave = 5; }, {13444, 13448}, false},
        {"Storage/Ratio", [](PavonaValues &v) { v.storageRatio = v.storageRatio == 1 ? 2 : 1; }, {4572 + 64, 4572 + 944 + 64}, false},
        {"VoltageValue", [](PavonaValues &v) { v.voltageValue = 99; }, {13488}, false},
        {"TemperValue", [](PavonaValues &v) { v.temperValue = 99; }, {13500}, false},
        {"Impact drive", [](PavonaValues &v) { v.impactDrive = 99; }, {13512}, false},
        {"Impact park", [](PavonaValues &v) { v.impactPark = 99; }, {13516}, false},
        {"DriveTimeUse", [](PavonaValues &v) { v.driveTimeUse = !v.driveTimeUse; }, {17288}, false},
        {"CameraLoss", [](PavonaValues &v) { v.cameraLoss = !v.cameraLoss; }, {16984}, false},
        {"SafetyAssit", [](PavonaValues &v) { v.safetyAssist = !v.safetyAssist; }, {17568, 17569, 17570}, true},
        {"NotifyFcw", [](PavonaValues &v) { v.notifyFcw = !v.notifyFcw; }, {17585}, true},
        {"NotifyLane", [](PavonaValues &v) { v.notifyLane = !v.notifyLane; }, {17584}, true},
        {"NotifyDeparture", [](PavonaValues &v) { v.notifyDeparture = !v.notifyDeparture; }, {}, true},
        {"Model", [](PavonaValues &v) { v.model = "edited"; }, {}, true},
    };
    for (const auto &c : cases) {
        PavonaValues edited = loaded;
        c.edit(edited);
        QByteArray copy = d;
        PavonaConfig::toImage(reinterpret_cast<unsigned char *>(copy.data()), edited, loaded);
        std::set<int> allowed;
        for (int w : c.words)
            for (int k = 0; k < (c.bytes ? 1 : 4); ++k)
                allowed.insert(w + k);
        for (int i = 0; i < Data; ++i) {
            if (copy[i] != d[i]) {
                EXPECT_TRUE(allowed.count(i)) << c.name << ": byte " << i << " changed";
            }
        }
        if (!c.words.empty()) {
            EXPECT_NE(copy, d) << c.name << " changed nothing";
        }
        // What was written reads back as the edited value.
        const PavonaValues back = PavonaConfig::fromImage(reinterpret_cast<const unsigned char *>(copy.constData()), PavonaValues());
        PavonaValues expected = edited;
        expected.notifyDeparture = back.notifyDeparture;
        expected.model = back.model;
        EXPECT_TRUE(back == expected) << c.name;
    }
    // No edit: not one byte.
    QByteArray copy = d;
    PavonaConfig::toImage(reinterpret_cast<unsigned char *>(copy.data()), loaded, loaded);
    EXPECT_EQ(copy, d);
}
