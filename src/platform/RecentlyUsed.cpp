#include "platform/RecentlyUsed.h"

#include "support/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>
#include <QXmlStreamReader>

namespace {

const QByteArray kEmptyList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<xbel version=\"1.0\"\n"
    "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
    "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n"
    ">\n</xbel>\n";

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray bookmarkFor(const QString &href, const QString &mimeType)
{
    const QByteArray now =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz000Z")).toUtf8();
    return "  <bookmark href=\"" + escaped(href) + "\" added=\"" + now + "\" modified=\"" + now
           + "\" visited=\"" + now
           + "\">\n"
             "    <info>\n"
             "      <metadata owner=\"http://freedesktop.org\">\n"
             "        <mime:mime-type type=\""
           + escaped(mimeType)
           + "\"/>\n"
             "        <bookmark:applications>\n"
             "          <bookmark:application name=\"Quillet\" exec=\"&apos;quillet %u&apos;\" modified=\""
           + now
           + "\" count=\"1\"/>\n"
             "        </bookmark:applications>\n"
             "      </metadata>\n"
             "    </info>\n"
             "  </bookmark>\n";
}

// The hrefs of the list, or none when the text is not a well-formed list.
std::optional<QStringList> bookmarkHrefs(const QByteArray &document)
{
    QStringList hrefs;
    QXmlStreamReader reader(document);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("bookmark"))
            hrefs << reader.attributes().value(QLatin1String("href")).toString();
    }
    if (reader.hasError())
        return std::nullopt;
    return hrefs;
}

} // namespace

namespace RecentlyUsed {

QString defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/recently-used.xbel");
}

bool addFile(const QString &filePath, const QString &listPath)
{
    QByteArray document = kEmptyList;
    QFile existing(listPath);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return false;
        document = existing.readAll();
        existing.close();
        if (document.trimmed().isEmpty())
            document = kEmptyList;
    }
    const std::optional<QStringList> hrefs = bookmarkHrefs(document);
    const qsizetype end = document.lastIndexOf("</xbel>");
    if (!hrefs || end < 0) {
        qCWarning(lcPlatform) << "recently used list is not readable, left alone:" << listPath;
        return false;
    }
    const QString href =
        QString::fromUtf8(QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath()).toEncoded());
    if (hrefs->contains(href))
        return true;
    const QString mimeType = QMimeDatabase().mimeTypeForFile(filePath).name();
    document.insert(end, bookmarkFor(href, mimeType));

    QDir().mkpath(QFileInfo(listPath).absolutePath());
    QSaveFile file(listPath);
    return file.open(QIODevice::WriteOnly) && file.write(document) == document.size() && file.commit();
}

} // namespace RecentlyUsed
