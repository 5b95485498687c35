#pragma once
// The video backup's diagnostic lines (QT_LOGGING_RULES "zidavova.export.debug=false").
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcExport)
