#include "sync/ReplyChecks.h"

bool isClipHash(const QString &hash)
{
    if (hash.size() != 32)
        return false;
    for (const QChar c : hash) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
                            || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!digit && !letter)
            return false;
    }
    return true;
}
