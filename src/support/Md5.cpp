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
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}
