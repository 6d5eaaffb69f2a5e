#include "platform/X11Pasteboard.h"

#include "platform/X11Display.h"
#include "support/Log.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>
#include <QUrl>

#include <X11/Xlib.h>

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
const QString kGnomeCopiedFiles = QStringLiteral("x-special/gnome-copied-files");
const QString kPasswordManagerHint = QStringLiteral("x-kde-passwordManagerHint");
const QString kPng = QStringLiteral("image/png");
const QString kTiff = QStringLiteral("image/tiff");

std::optional<QString> localFile(const QByteArray &line)
{
    const QUrl url = QUrl::fromEncoded(line.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile())
        return std::nullopt;
    const QString path = url.toLocalFile();
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

// Image MIME types in the order they are tried: PNG, then TIFF, then the others as offered.
QStringList decodableImageTypes(const QStringList &offered)
{
    static const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
    QStringList types;
    for (const QString &type : offered) {
        if (type.startsWith(QLatin1String("image/")) && readable.contains(type.toLatin1()))
            types.append(type);
    }
    std::stable_sort(types.begin(), types.end(), [](const QString &a, const QString &b) {
        const auto rank = [](const QString &type) { return type == kPng ? 0 : type == kTiff ? 1 : 2; };
        return rank(a) < rank(b);
    });
    return types;
}

} // namespace

X11Pasteboard::X11Pasteboard(QObject *parent)
    : Pasteboard(parent)
    , m_clipboard(QGuiApplication::clipboard())
{
    // Qt follows the clipboard's owners through XFIXES where the server has it.
    if (_XDisplay *display = qtX11Display()) {
        int opcode = 0;
        int event = 0;
        int error = 0;
        m_announcesOwners = XQueryExtension(display, "XFIXES", &opcode, &event, &error) != 0;
    }
    if (!isEmpty())
        m_changeCount = 1;
    connect(m_clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode != QClipboard::Clipboard)
            return;
        ++m_changeCount;
        emit changed();
    });
}

const QMimeData *X11Pasteboard::content() const
{
    return m_clipboard->mimeData(QClipboard::Clipboard);
}

bool X11Pasteboard::isEmpty()
{
    const QMimeData *data = content();
    return !data || data->formats().isEmpty();
}

std::optional<QString> X11Pasteboard::firstLocalFileOfUriList(const QByteArray &uriList)
{
    const QList<QByteArray> lines = uriList.split('\n');
    for (const QByteArray &line : lines) {
        const QByteArray entry = line.trimmed();
        if (entry.isEmpty() || entry.startsWith('#'))
            continue;
        if (std::optional<QString> path = localFile(entry))
            return path;
    }
    return std::nullopt;
}

std::optional<QString> X11Pasteboard::firstLocalFileOfGnomeCopiedFiles(const QByteArray &data)
{
    // The first line says "copy" or "cut"; the URLs follow, one per line.
    QList<QByteArray> lines = data.split('\n');
    if (lines.isEmpty())
        return std::nullopt;
    lines.removeFirst();
    for (const QByteArray &line : std::as_const(lines)) {
        if (std::optional<QString> path = localFile(line))
            return path;
    }
    return std::nullopt;
}

std::optional<QString> X11Pasteboard::firstFilePath()
{
    const QMimeData *data = content();
    if (!data)
        return std::nullopt;
    const QStringList formats = data->formats();
    if (formats.contains(kUriList)) {
        if (std::optional<QString> path = firstLocalFileOfUriList(data->data(kUriList)))
            return path;
    }
    if (formats.contains(kGnomeCopiedFiles))
        return firstLocalFileOfGnomeCopiedFiles(data->data(kGnomeCopiedFiles));
    return std::nullopt;
}

std::optional<ClipboardImage> X11Pasteboard::firstImage()
{
    const QMimeData *data = content();
    if (!data)
        return std::nullopt;
    // The bytes are fetched here, on the main thread; decoding them is left to the caller.
    const QStringList types = decodableImageTypes(data->formats());
    for (const QString &type : types) {
        QByteArray bytes = data->data(type);
        if (!bytes.isEmpty())
            return ClipboardImage{std::move(bytes), type.toLatin1(), QImage()};
    }
    return std::nullopt;
}

std::optional<QString> X11Pasteboard::string()
{
    const QMimeData *data = content();
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

bool X11Pasteboard::isMarkedSecretByPasswordManager()
{
    const QMimeData *data = content();
    return data && data->formats().contains(kPasswordManagerHint)
           && data->data(kPasswordManagerHint).trimmed() == "secret";
}

void X11Pasteboard::writeString(const QString &text)
{
    auto *data = new QMimeData;
    data->setText(text);
    m_clipboard->setMimeData(data, QClipboard::Clipboard);
}

void X11Pasteboard::writeImage(const QByteArray &tiff)
{
    auto *data = new QMimeData;
    data->setData(kTiff, tiff);
    const QImage image = QImage::fromData(tiff, "TIFF");
    if (!image.isNull()) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (image.save(&buffer, "PNG"))
            data->setData(kPng, png);
    }
    m_clipboard->setMimeData(data, QClipboard::Clipboard);
}

void X11Pasteboard::writeFilePath(const QString &path)
{
    const QByteArray url = QUrl::fromLocalFile(path).toEncoded();
    auto *data = new QMimeData;
    data->setData(kUriList, url + "\r\n");
    data->setData(kGnomeCopiedFiles, "copy\n" + url);
    data->setText(path);
    m_clipboard->setMimeData(data, QClipboard::Clipboard);
}
