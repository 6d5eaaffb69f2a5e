#include "store/ClipFamily.h"

ClipFamily clipFamilyOfType(const QString &type)
{
    const QString family = clipContentType(type).section(QLatin1Char('_'), 0, 0);
    if (family == QLatin1String("text"))
        return ClipFamily::Text;
    if (family == QLatin1String("image"))
        return ClipFamily::Image;
    if (family == QLatin1String("file"))
        return ClipFamily::File;
    return ClipFamily::Other;
}

QString clipFamilyName(ClipFamily family)
{
    switch (family) {
    case ClipFamily::Text:
        return QStringLiteral("text");
    case ClipFamily::Image:
        return QStringLiteral("image");
    case ClipFamily::File:
        return QStringLiteral("file");
    case ClipFamily::Other:
        break;
    }
    return {};
}

QString clipContentType(const QString &type)
{
    return type.section(QLatin1Char('+'), 0, 0);
}

QStringList clipTypeExtras(const QString &type)
{
    QStringList parts = type.split(QLatin1Char('+'));
    parts.removeFirst();
    return parts;
}

bool isZippedType(const QString &type)
{
    return clipTypeExtras(type).contains(QLatin1String("zip"));
}
