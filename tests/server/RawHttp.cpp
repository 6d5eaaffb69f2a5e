#include "RawHttp.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QTcpSocket>

namespace RawHttp {

HttpReply parse(const QByteArray &raw)
{
    HttpReply reply;
    if (!raw.startsWith("HTTP/1."))
        return reply;
    reply.status = raw.mid(9, 3).toInt();
    const qsizetype bodyStart = raw.indexOf("\r\n\r\n");
    if (bodyStart >= 0) {
        reply.body = raw.mid(bodyStart + 4);
        reply.json = QJsonDocument::fromJson(reply.body).object();
    }
    return reply;
}

HttpReply exchange(const QString &fromAddress, quint16 port, const QByteArray &request, int timeoutMs)
{
    QTcpSocket socket;
    if (!socket.bind(QHostAddress(fromAddress)))
        return {};
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs))
        return {};
    socket.write(request);
    QByteArray raw;
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        raw += socket.readAll();
    }
    raw += socket.readAll();
    return parse(raw);
}

HttpReply get(const QString &fromAddress, quint16 port, const QString &pathAndQuery)
{
    return exchange(fromAddress, port,
                    "GET /api" + pathAndQuery.toUtf8()
                        + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

} // namespace RawHttp
