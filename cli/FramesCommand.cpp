#include "FramesCommand.h"

#include "CommandLine.h"
#include "Crc32.h"
#include "RecordingArgs.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <map>
#include <memory>

namespace {

int fail(const QString &message)
{
    return failCommand("frames", message);
}

// Room for the largest payload a load can hold plus its parameter sets;
// untouched pages cost nothing.
constexpr size_t Capacity = FrameBuffer::RecordFileCapacity + 4096;

} // namespace

int framesCommand(const QStringList &args)
{
    RecordingArgs a;
    QString error = parseRecordingArgs(args,
                                       {"--entry", "--backward", "--export", "--limit", "--dump", "--password",
                                        "--mf2-keys"},
                                       &a);
    if (!error.isEmpty())
        return refuseArguments("frames", error);
    Reader reader;
    bool recordFile = false;
    error = loadRecording(reader, a, &recordFile);
    if (!error.isEmpty())
        return fail(error);
    if (!a.dumpDir.isEmpty() && !QDir().mkpath(a.dumpDir))
        return fail(QStringLiteral("%1: cannot create the folder").arg(a.dumpDir));

    std::unique_ptr<uint8_t[]> data(new uint8_t[Capacity]);
    std::map<QString, std::unique_ptr<QFile>> dumps;
    auto dumpTo = [&](const QString &name, const uint8_t *bytes, int size) {
        std::unique_ptr<QFile> &f = dumps[name];
        if (!f) {
            f = std::make_unique<QFile>(QDir(a.dumpDir).filePath(name));
            if (!f->open(QIODevice::WriteOnly | QIODevice::Truncate))
                return false;
        }
        return f->write(reinterpret_cast<const char *>(bytes), size) == size;
    };

    for (;;) {
        FrameIndexEntry e;
        bool key = false;
        const int len = a.exportLoad ? reader.nextFrameExport(data.get(), Capacity, e)
                        : a.backward ? reader.nextFrameBackward(data.get(), Capacity, e, &key)
                                     : reader.nextFrame(e, data.get(), Capacity);
        if (len <= 0)
            break;
        const quint64 serial = recordFile ? e.serial() : e.sequence64();
        // Bank loads apply the limit themselves; record files number their
        // entries within the load, and the same rule applies to that number.
        if (recordFile && a.limit != 0 && (a.backward ? serial > a.limit : serial < a.limit))
            continue;
        printf("{\"marker\":%u,\"serial\":%llu,\"size\":%d,\"sec\":%u,\"usec\":%u,\"gop\":%u,\"rate\":%u,\"res\":%u,"
               "\"ch\":%u,\"idx\":%u,\"offset\":%u,\"len\":%d,\"crc\":\"%08x\"}\n",
               unsigned(e.marker), static_cast<unsigned long long>(serial), int(e.size), unsigned(e.sec),
               unsigned(e.usec), unsigned(e.gop), unsigned(e.rate), unsigned(e.res), unsigned(e.channel),
               unsigned(e.catalogueIndex), unsigned(e.payloadOffset), len, unsigned(crc32Of(data.get(), size_t(len))));
        if (a.dumpDir.isEmpty())
            continue;
        bool ok = true;
        if (e.marker == FrameIndexEntry::Video)
            ok = dumpTo(QStringLiteral("video-%1.es").arg(e.channel), data.get(), len);
        else if (e.marker == FrameIndexEntry::Audio)
            ok = dumpTo(QStringLiteral("audio.es"), data.get(), len);
        if (!ok)
            return fail(QStringLiteral("%1: cannot write the dump").arg(a.dumpDir));
    }
    for (auto &d : dumps)
        if (!d.second->flush())
            return fail(QStringLiteral("%1: cannot write the dump").arg(d.second->fileName()));
    return 0;
}
