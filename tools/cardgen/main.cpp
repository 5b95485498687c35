// cardgen: writes sample memory cards of both storage layouts for tests and
// demonstrations. Exit codes: 0 written, 1 failed while writing, 2 refused
// options (one line on stderr, nothing written).
#include "CardOptions.h"
#include "CardOutput.h"
#include "IndexCardWriter.h"
#include "RecordCardWriter.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// libx265 keeps a few allocations past encoder close; they are the library's
// to free, not ours, and must not fail sanitizer runs of the generator.
extern "C" const char *__lsan_default_suppressions() { return "leak:libx265.so\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }
#endif
#endif

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_ERROR);

    CardOptions options;
    QString error;
    const int parsed = options.parse(app.arguments().mid(1), &error);
    if (parsed == 1) {
        std::fputs(CardOptions::usage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parsed < 0) {
        std::fprintf(stderr, "cardgen: %s\n", error.toLocal8Bit().constData());
        return 2;
    }

    CardOutput out(options.outDir);
    if (out.begin(&error) < 0) {
        std::fprintf(stderr, "cardgen: %s\n", error.toLocal8Bit().constData());
        return 2;
    }
    QJsonObject manifest;
    int rc;
    if (options.store == CardOptions::Store::Index) {
        IndexCardWriter writer(options);
        rc = writer.write(&out, &manifest, &error);
    } else {
        RecordCardWriter writer(options);
        rc = writer.write(&out, &manifest, &error);
    }
    if (rc == 0 && !options.manifest.isEmpty())
        rc = out.writeFile(options.manifest, QJsonDocument(manifest).toJson(QJsonDocument::Indented), &error);
    if (rc < 0) {
        std::fprintf(stderr, "cardgen: %s\n", error.toLocal8Bit().constData());
        // A bank too small for its data is a refused option like the others.
        return error.startsWith(QLatin1String("bank size")) || error.contains(QLatin1String("do not fit")) ? 2 : 1;
    }
    out.commit();
    return 0;
}
