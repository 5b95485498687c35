#include "CardOptions.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

const char *kUsage =
    "usage: cardgen index  OUTDIR [options]   write an index-store card\n"
    "       cardgen record OUTDIR [options]   write a record-file card\n"
    "OUTDIR must be absent or empty. Output is the same bytes for the same options\n"
    "(record file names carry local time, so also the same time zone).\n"
    "\n"
    "common:\n"
    "  --channels N          camera channels, 1..8 (default 2)\n"
    "  --size WxH            one size for every channel (default 320x240)\n"
    "  --sizes WxH,WxH,...   one size per channel (the last repeats)\n"
    "  --fps F               frames per second, a divisor of 90000 (default 30)\n"
    "  --gop G               frames per key-frame interval (default: F)\n"
    "  --recordings N        recordings to write (default 3)\n"
    "  --seconds S           length of each recording (default 5)\n"
    "  --start EPOCH         UTC seconds of the first recording (default 1678772725)\n"
    "  --gap SECONDS         pause between recordings (default 0)\n"
    "  --events PATTERN      one letter per recording, repeated: N normal, E event, M, F;\n"
    "                        record cards also P (parked event) and p (parked normal)\n"
    "  --seed N              seed of the simulated drive (default 1)\n"
    "  --preset NAME         x264/x265 preset (default ultrafast)\n"
    "  --bitrate KBPS[,...]  average video bit rate, one per channel (the last repeats;\n"
    "                        default: constant quality)\n"
    "  --grain N             film grain: uniform noise of N levels, 0..100, new in every\n"
    "                        picture, for realistic bit rates (default 0)\n"
    "  --manifest FILE.json  write what was generated\n"
    "  --damage LIST         one extra damaged recording or bank per kind, after the\n"
    "                        others: truncated, bad-magic,\n"
    "                        size-past-end, time-backward, and for record cards also\n"
    "                        foreign-trailer, zero-length\n"
    "index:\n"
    "  --bank-size BYTES     bank size (default: the largest bank, rounded up to 1 MiB)\n"
    "  --data-files N        number of data files (default 1)\n"
    "  --banks-per-file N    banks in each data file (default: enough for all)\n"
    "  --ext ibx|dat         extension of the index and data files (default ibx)\n"
    "  --header-at start|end bank header at 16384 or at bank size - 204800\n"
    "  --password TEXT       card password, up to 8 printable ASCII characters\n"
    "  --model XXXX          four-character model code (default ZV08)\n"
    "  --archive FILE.smb    also pack the sound recording banks into a Smart Backup archive\n"
    "  --archive-password T  archive password, up to 12 bytes\n"
    "  --cut-first-key[=LIST] these banks' video starts half a key-frame interval in:\n"
    "                        the first key frame and the frames after it are left out\n"
    "record:\n"
    "  --format mp4|mf2|mixed       container (mixed: MP4 and MF2 in turn)\n"
    "  --mf2-password TEXT          MF2 files get the MF2I header with this password\n"
    "  --mf2-key-index K            scrambling key used, 0..2 (default 0)\n"
    "  --mf2-keys K0,K1,K2          scrambling keys, hex u32\n"
    "                               (default 5A3C9E71,1D4B8F26,C7E2094B)\n"
    "  --old-trailer[=LIST]         older 1000-byte trailer (LIST: 1-based recordings)\n"
    "  --form-b[=LIST]              form-B file names (always MP4 content)\n"
    "  --lowercase-mf2[=LIST]       '.mf2' in lower case (MP4 content, read as MP4)\n"
    "  --video-streams N            video streams in each MP4, 1..16\n"
    "  --zero-head[=LIST]           the first 64 KiB of these recordings are zeroed\n"
    "                               (the trailer stays, so catalogues list them)\n"
    "  --no-audio[=LIST]            these recordings have no sound track\n"
    "  --recording-streams N[,N...] video streams of each recording (the last repeats),\n"
    "                               at most --video-streams (or --channels)\n"
    "  --claimed-size WxH[,WxH...]  the picture size trailer and MF2 track table\n"
    "                               claim, one per recording (the last repeats);\n"
    "                               the video keeps its real size\n"
    "  --no-settings                no Config/ZidavOva.cfg\n"
    "  --no-marker                  no .Pavona.cfg\n"
    "  --help                       this text\n";

const QStringList kDamageKinds = {QStringLiteral("truncated"), QStringLiteral("bad-magic"),
                                  QStringLiteral("size-past-end"), QStringLiteral("time-backward"),
                                  QStringLiteral("foreign-trailer"), QStringLiteral("zero-length")};

bool toInt(const QString &text, int lo, int hi, int *out)
{
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (!ok || v < lo || v > hi)
        return false;
    *out = int(v);
    return true;
}

// Numbers lo..hi separated by commas; out is replaced.
bool toIntList(const QString &text, int lo, int hi, QVector<int> *out)
{
    out->clear();
    for (const QString &part : text.split(QLatin1Char(','))) {
        int n;
        if (!toInt(part, lo, hi, &n))
            return false;
        out->append(n);
    }
    return true;
}

bool toSize(const QString &text, QSize *out)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return false;
    *out = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    return true;
}

// "all" is kept as 0; otherwise a list of 1-based recording numbers.
bool toSelection(const QString &text, QVector<int> *out)
{
    if (text.isEmpty()) {
        *out = {0};
        return true;
    }
    return toIntList(text, 1, 1000000, out);
}

bool printableAscii(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return false;
    return true;
}

} // namespace

QString CardOptions::usage() { return QString::fromLatin1(kUsage); }

int CardOptions::indexResolutionCode(const QSize &size)
{
    // Only codes whose frames the reader hands out without a fixed parameter
    // set of its own: the encoder's sets travel inside every key frame.
    static const struct { int code, w, h; } codes[] = {
        {1, 320, 240}, {2, 640, 480}, {3, 704, 480}, {4, 1280, 720}, {5, 1280, 1024}};
    for (const auto &c : codes)
        if (size == QSize(c.w, c.h))
            return c.code;
    return -1;
}

bool CardOptions::selects(const QVector<int> &list, int recording)
{
    return list.contains(0) || list.contains(recording + 1);
}

int CardOptions::parse(const QStringList &args, QString *error)
{
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h")))
        return 1;
    if (args.size() < 2) {
        *error = QStringLiteral("expected 'index OUTDIR' or 'record OUTDIR' (see --help)");
        return -1;
    }
    if (args[0] == QLatin1String("index"))
        store = Store::Index;
    else if (args[0] == QLatin1String("record"))
        store = Store::Record;
    else {
        *error = QStringLiteral("unknown store '%1': use index or record").arg(args[0]);
        return -1;
    }
    outDir = args[1];
    if (outDir.startsWith(QLatin1String("--"))) {
        *error = QStringLiteral("missing OUTDIR");
        return -1;
    }

    QString sizeText = QStringLiteral("320x240");
    bool sizeGiven = false;
    for (int i = 2; i < args.size(); ++i) {
        QString name = args[i];
        QString value;
        bool inlineValue = false;
        const int eq = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            inlineValue = true;
        }
        const bool optionalValue = name == QLatin1String("--old-trailer") || name == QLatin1String("--form-b")
                                   || name == QLatin1String("--lowercase-mf2") || name == QLatin1String("--zero-head")
                                   || name == QLatin1String("--no-audio") || name == QLatin1String("--cut-first-key");
        const bool flag = name == QLatin1String("--no-settings") || name == QLatin1String("--no-marker");
        if (!inlineValue && !flag && !optionalValue) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("option %1 needs a value").arg(name);
                return -1;
            }
            value = args[++i];
        }
        auto bad = [&](const QString &what) {
            *error = QStringLiteral("bad value '%1' for %2: %3").arg(value, name, what);
            return -1;
        };
        if (name == QLatin1String("--channels")) {
            if (!toInt(value, 1, 1000, &channels))
                return bad(QStringLiteral("a channel count"));
        } else if (name == QLatin1String("--size") || name == QLatin1String("--sizes")) {
            sizeText = value;
            sizeGiven = true;
        } else if (name == QLatin1String("--fps")) {
            if (!toInt(value, 1, 120, &fps) || 90000 % fps != 0)
                return bad(QStringLiteral("1..120 and a divisor of 90000"));
        } else if (name == QLatin1String("--gop")) {
            if (!toInt(value, 1, 1000, &gop))
                return bad(QStringLiteral("1..1000"));
        } else if (name == QLatin1String("--recordings")) {
            if (!toInt(value, 1, 10000, &recordings))
                return bad(QStringLiteral("1..10000"));
        } else if (name == QLatin1String("--seconds")) {
            if (!toInt(value, 1, 3600, &seconds))
                return bad(QStringLiteral("1..3600"));
        } else if (name == QLatin1String("--start")) {
            bool ok;
            start = value.toLongLong(&ok);
            if (!ok || start < 0 || start > 0xF0000000LL)
                return bad(QStringLiteral("UTC seconds since 1970"));
        } else if (name == QLatin1String("--gap")) {
            if (!toInt(value, 0, 86400 * 30, &gap))
                return bad(QStringLiteral("0..2592000"));
        } else if (name == QLatin1String("--events")) {
            events = value;
        } else if (name == QLatin1String("--seed")) {
            bool ok;
            seed = value.toUInt(&ok);
            if (!ok)
                return bad(QStringLiteral("an unsigned number"));
        } else if (name == QLatin1String("--preset")) {
            preset = value;
        } else if (name == QLatin1String("--bitrate")) {
            if (!toIntList(value, 1, 100000, &bitratesKbps))
                return bad(QStringLiteral("1..100000 kbit/s, separated by commas"));
        } else if (name == QLatin1String("--grain")) {
            if (!toInt(value, 0, 100, &grain))
                return bad(QStringLiteral("0..100"));
        } else if (name == QLatin1String("--manifest")) {
            manifest = value;
        } else if (name == QLatin1String("--damage")) {
            damage = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
        } else if (name == QLatin1String("--bank-size")) {
            bool ok;
            bankSize = value.toLongLong(&ok);
            if (!ok || bankSize <= 0 || bankSize > 0x7FFFFFFFLL)
                return bad(QStringLiteral("bytes, below 2 GiB"));
        } else if (name == QLatin1String("--data-files")) {
            if (!toInt(value, 1, 100, &dataFiles))
                return bad(QStringLiteral("1..100"));
        } else if (name == QLatin1String("--banks-per-file")) {
            if (!toInt(value, 1, 100000, &banksPerFile))
                return bad(QStringLiteral("1..100000"));
        } else if (name == QLatin1String("--ext")) {
            if (value != QLatin1String("ibx") && value != QLatin1String("dat"))
                return bad(QStringLiteral("ibx or dat"));
            ext = value;
        } else if (name == QLatin1String("--header-at")) {
            if (value != QLatin1String("start") && value != QLatin1String("end"))
                return bad(QStringLiteral("start or end"));
            headerAtEnd = value == QLatin1String("end");
        } else if (name == QLatin1String("--password")) {
            if (value.isEmpty() || value.size() > 8 || !printableAscii(value))
                return bad(QStringLiteral("1..8 printable ASCII characters"));
            password = value;
        } else if (name == QLatin1String("--model")) {
            if (value.size() != 4 || !printableAscii(value))
                return bad(QStringLiteral("four printable ASCII characters"));
            model = value;
        } else if (name == QLatin1String("--archive")) {
            archive = value;
        } else if (name == QLatin1String("--archive-password")) {
            if (value.isEmpty() || value.toUtf8().size() > 12)
                return bad(QStringLiteral("1..12 bytes"));
            archivePassword = value;
        } else if (name == QLatin1String("--format")) {
            if (value == QLatin1String("mp4"))
                format = Format::Mp4;
            else if (value == QLatin1String("mf2"))
                format = Format::Mf2;
            else if (value == QLatin1String("mixed"))
                format = Format::Mixed;
            else
                return bad(QStringLiteral("mp4, mf2 or mixed"));
        } else if (name == QLatin1String("--mf2-password")) {
            if (value.isEmpty() || value.toUtf8().size() > 31 || value.toUtf8().contains('\0'))
                return bad(QStringLiteral("1..31 bytes"));
            mf2Password = value;
        } else if (name == QLatin1String("--mf2-key-index")) {
            if (!toInt(value, 0, 2, &mf2KeyIndex))
                return bad(QStringLiteral("0..2"));
        } else if (name == QLatin1String("--mf2-keys")) {
            const QStringList keys = value.split(QLatin1Char(','));
            if (keys.size() != 3)
                return bad(QStringLiteral("three hex numbers"));
            for (int k = 0; k < 3; ++k) {
                bool ok;
                QString key = keys[k];
                if (key.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
                    key = key.mid(2);
                mf2Keys[size_t(k)] = key.toUInt(&ok, 16);
                if (!ok || key.isEmpty())
                    return bad(QStringLiteral("three hex numbers"));
            }
        } else if (name == QLatin1String("--old-trailer")) {
            if (!toSelection(value, &oldTrailer))
                return bad(QStringLiteral("recording numbers"));
        } else if (name == QLatin1String("--form-b")) {
            if (!toSelection(value, &formB))
                return bad(QStringLiteral("recording numbers"));
        } else if (name == QLatin1String("--lowercase-mf2")) {
            if (!toSelection(value, &lowercaseMf2))
                return bad(QStringLiteral("recording numbers"));
        } else if (name == QLatin1String("--zero-head")) {
            if (!toSelection(value, &zeroHead))
                return bad(QStringLiteral("recording numbers"));
        } else if (name == QLatin1String("--no-audio")) {
            if (!toSelection(value, &noAudio))
                return bad(QStringLiteral("recording numbers"));
        } else if (name == QLatin1String("--cut-first-key")) {
            if (!toSelection(value, &cutFirstKey))
                return bad(QStringLiteral("recording numbers"));
        } else if (name == QLatin1String("--recording-streams")) {
            if (!toIntList(value, 1, 16, &recordingStreams))
                return bad(QStringLiteral("stream counts 1..16 separated by commas"));
        } else if (name == QLatin1String("--claimed-size")) {
            claimedSizes.clear();
            for (const QString &part : value.split(QLatin1Char(','))) {
                QSize s;
                if (!toSize(part, &s) || s.isEmpty())
                    return bad(QStringLiteral("sizes WxH separated by commas"));
                claimedSizes.append(s);
            }
        } else if (name == QLatin1String("--video-streams")) {
            if (!toInt(value, 1, 1000, &videoStreams))
                return bad(QStringLiteral("a stream count"));
        } else if (name == QLatin1String("--no-settings")) {
            noSettings = true;
        } else if (name == QLatin1String("--no-marker")) {
            noMarker = true;
        } else {
            *error = QStringLiteral("unknown option %1 (see --help)").arg(name);
            return -1;
        }
    }

    // Paths outside the card are taken from the working folder.
    if (!manifest.isEmpty())
        manifest = QFileInfo(manifest).absoluteFilePath();
    if (!archive.isEmpty())
        archive = QFileInfo(archive).absoluteFilePath();

    QVector<QSize> given;
    for (const QString &part : sizeText.split(QLatin1Char(','))) {
        QSize s;
        if (!toSize(part, &s)) {
            *error = QStringLiteral("bad size '%1': expected WxH").arg(part);
            return -1;
        }
        given.append(s);
    }
    if (!sizeGiven && store == Store::Record)
        given = {QSize(320, 240)};
    sizes.clear();
    for (int c = 0; c < streamCount(); ++c)
        sizes.append(given.at(qMin(c, given.size() - 1)));
    return validate(error);
}

int CardOptions::validate(QString *error)
{
    const bool index = store == Store::Index;
    const int maxChannels = 8;
    if (channels > maxChannels) {
        *error = QStringLiteral("%1 channels: the %2 store holds at most %3")
                     .arg(channels)
                     .arg(index ? QStringLiteral("index") : QStringLiteral("record-file"))
                     .arg(maxChannels);
        return -1;
    }
    if (videoStreams > 16) {
        *error = QStringLiteral("%1 video streams: at most 16").arg(videoStreams);
        return -1;
    }
    if (videoStreams > 0 && index) {
        *error = QStringLiteral("--video-streams applies to record cards only");
        return -1;
    }
    for (const QSize &s : sizes) {
        if (s.width() < 16 || s.height() < 16 || s.width() > 4096 || s.height() > 4096) {
            *error = QStringLiteral("size %1x%2 out of range 16..4096").arg(s.width()).arg(s.height());
            return -1;
        }
        if (s.width() % 2 || s.height() % 2) {
            *error = QStringLiteral("odd size %1x%2: width and height must be even").arg(s.width()).arg(s.height());
            return -1;
        }
        if (index && indexResolutionCode(s) < 0) {
            *error = QStringLiteral("size %1x%2 has no index-store resolution code; use 320x240, 640x480, "
                                    "704x480, 1280x720 or 1280x1024")
                         .arg(s.width())
                         .arg(s.height());
            return -1;
        }
    }
    if (gop == 0)
        gop = fps;
    static const QRegularExpression indexEvents(QStringLiteral("^[NEMF]+$"));
    static const QRegularExpression recordEvents(QStringLiteral("^[NEMFPp]+$"));
    if (!(index ? indexEvents : recordEvents).match(events).hasMatch()) {
        *error = QStringLiteral("bad --events '%1': letters %2").arg(events, index ? "N E M F" : "N E M F P p");
        return -1;
    }
    for (const QString &d : damage) {
        if (!kDamageKinds.contains(d)) {
            *error = QStringLiteral("unknown damage kind '%1'").arg(d);
            return -1;
        }
        if (index && (d == QLatin1String("foreign-trailer") || d == QLatin1String("zero-length"))) {
            *error = QStringLiteral("damage '%1' applies to record cards only").arg(d);
            return -1;
        }
    }
    const struct { bool given; const char *option; } recordOnly[] = {
        {!zeroHead.isEmpty(), "--zero-head"}, {!noAudio.isEmpty(), "--no-audio"}, {!claimedSizes.isEmpty(), "--claimed-size"},
        {!recordingStreams.isEmpty(), "--recording-streams"}};
    for (const auto &r : recordOnly) {
        if (index && r.given) {
            *error = QStringLiteral("%1 applies to record cards only").arg(QLatin1String(r.option));
            return -1;
        }
    }
    for (int n : recordingStreams) {
        if (n > streamCount()) {
            *error = QStringLiteral("--recording-streams %1: more than the %2 streams of the card").arg(n).arg(streamCount());
            return -1;
        }
    }
    if (!index && !cutFirstKey.isEmpty()) {
        *error = QStringLiteral("--cut-first-key applies to index cards only");
        return -1;
    }
    if (index) {
        if (!archivePassword.isEmpty() && archive.isEmpty()) {
            *error = QStringLiteral("--archive-password needs --archive");
            return -1;
        }
    }
    if (!index && (!mf2Password.isEmpty()) && format == Format::Mp4) {
        *error = QStringLiteral("--mf2-password needs --format mf2 or mixed");
        return -1;
    }
    const QFileInfo out(outDir);
    if (out.exists() && !out.isDir()) {
        *error = QStringLiteral("%1 exists and is not a folder").arg(outDir);
        return -1;
    }
    return 0;
}
