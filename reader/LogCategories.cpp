#include "LogCategories.h"

#include <cstring>

Q_LOGGING_CATEGORY(lcReader, "zidavova.reader")
Q_LOGGING_CATEGORY(lcDemux, "zidavova.demux")
Q_LOGGING_CATEGORY(lcPlayback, "zidavova.playback")
Q_LOGGING_CATEGORY(lcAudio, "zidavova.audio")
Q_LOGGING_CATEGORY(lcShell, "zidavova.shell")
Q_LOGGING_CATEGORY(lcTelemetry, "zidavova.telemetry")

namespace {

QLoggingCategory::CategoryFilter rulesFilter = nullptr;
bool quietLogging = false;

void filterCategory(QLoggingCategory *category)
{
    if (rulesFilter)
        rulesFilter(category);
    const bool ours = std::strncmp(category->categoryName(), "zidavova.", 9) == 0
        || std::strcmp(category->categoryName(), "default") == 0;
    if (!ours)
        return;
    category->setEnabled(QtWarningMsg, true);
    category->setEnabled(QtCriticalMsg, true);
    if (quietLogging) {
        category->setEnabled(QtDebugMsg, false);
        category->setEnabled(QtInfoMsg, false);
    }
}

} // namespace

void installLogControl(bool quiet)
{
    // The lines read as they always did, without the category in front
    // (QT_MESSAGE_PATTERN still chooses another form).
    qSetMessagePattern(QStringLiteral("%{message}"));
    quietLogging = quiet;
    if (!rulesFilter) {
        rulesFilter = QLoggingCategory::installFilter(filterCategory);
    } else {
        // Re-run the filter over every category with the new setting.
        QLoggingCategory::installFilter(filterCategory);
    }
}
