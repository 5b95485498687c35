#include "EventKind.h"

QString eventKindName(int code)
{
    switch (code) {
    case 1: return QStringLiteral("Event");
    case 2: return QStringLiteral("DE");
    case 3: return QStringLiteral("PE");
    case 4: return QStringLiteral("Parking");
    case 5: return QStringLiteral("ForceEvent");
    default: return QString();
    }
}
