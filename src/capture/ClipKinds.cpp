#include "capture/ClipKinds.h"

#include "store/ClipFamily.h"

#include <QFileInfo>

namespace {

bool isLineTerminator(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'\n' || u == u'\r' || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

} // namespace

namespace ClipKinds {

QString typeFromString(const QString &text)
{
    if (text.size() > ClipKinds::kMaxShortTextLength)
        return QStringLiteral("text_large");
    if (text.startsWith(QLatin1String("http://")) || text.startsWith(QLatin1String("https://")))
        return QStringLiteral("text_url_http");
    return QStringLiteral("text_txt");
}

std::optional<QStringList> contentTypeList(const std::optional<QString> &type)
{
    if (!type)
        return std::nullopt;
    return clipContentType(*type).split(QLatin1Char('_'));
}

std::optional<QStringList> externTypeList(const std::optional<QString> &type)
{
    if (!type)
        return std::nullopt;
    return clipTypeExtras(*type);
}

std::optional<QString> typeFromImageData(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return std::nullopt;
    switch (static_cast<unsigned char>(bytes.front())) {
    case 0x47:
        return QStringLiteral("gif");
    case 0x49:
    case 0x4D:
        return QStringLiteral("tiff");
    case 0x89:
        return QStringLiteral("png");
    case 0xFF:
        return QStringLiteral("jpg");
    default:
        return std::nullopt;
    }
}

QString textAbstract(const QString &text)
{
    // Walks the text only as far as the abstract needs, so a long text costs no more than a
    // short one.
    QString result;
    result.reserve(ClipKinds::kAbstractLength + 1);
    bool afterSpace = false;
    for (qsizetype i = 0; i < text.size() && result.size() <= ClipKinds::kAbstractLength; ++i) {
        const QChar c = text.at(i);
        if (isLineTerminator(c)) {
            // Lines are joined with nothing between them; a space run ends with its line.
            afterSpace = false;
            continue;
        }
        if (c == QLatin1Char(' ')) {
            if (!afterSpace)
                result.append(c);
            afterSpace = true;
            continue;
        }
        afterSpace = false;
        result.append(c);
    }
    if (result.size() > ClipKinds::kAbstractLength) {
        qsizetype cut = ClipKinds::kAbstractLength;
        // Half a surrogate pair would reach the database as a replacement character.
        if (result.at(cut - 1).isHighSurrogate())
            --cut;
        result.truncate(cut);
    }
    return result;
}

QString fileExtension(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot marks a hidden file, not an extension.
    if (dot <= 0 || dot == name.size() - 1)
        return ClipKinds::unknownExtension;
    return name.mid(dot + 1);
}

QString fileClipType(const QString &extension)
{
    return QStringLiteral("%1_%2+%3").arg(clipFamilyName(ClipFamily::File), extension, QStringLiteral("zip"));
}

} // namespace ClipKinds
