#include "http/HttpJob.h"

QString KindPath(THttpKind kind)
{
    switch (kind) {
    case THttpKind::Receipt: return QStringLiteral("receipts");
    case THttpKind::Operation: return QStringLiteral("operations");
    case THttpKind::Export: return QStringLiteral("exports");
    default: return QString();
    }
}

char KindLetter(THttpKind kind)
{
    switch (kind) {
    case THttpKind::Receipt: return 'R';
    case THttpKind::Operation: return 'O';
    case THttpKind::Export: return 'E';
    default: return '?';
    }
}
