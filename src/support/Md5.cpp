#include "support/Md5.h"

#include <QCryptographicHash>
#include <QFile>

QString md5_hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QString md5_hex(const QString &text)
{
    return md5_hex(text.toUtf8());
}

QString md5_hex_of_file(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Reads until a read returns no bytes. QCryptographicHash::addData(QIODevice *) would
    // report a failed read of a file whose size is 0 (as /proc files show) as success.
    QCryptographicHash hash(QCryptographicHash::Md5);
    char buffer[1024];
    for (;;) {
        const qint64 length = file.read(buffer, sizeof buffer);
        if (length < 0)
            return {};
        if (length == 0)
            break;
        hash.addData(QByteArrayView(buffer, length));
    }
    return QString::fromLatin1(hash.result().toHex());
}
