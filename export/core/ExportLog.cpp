#include "ExportLog.h"

Q_LOGGING_CATEGORY(lcExport, "zidavova.export")
