#include "RecordingHttpServer.h"

#include <QTcpSocket>

using namespace Qt::StringLiterals;

RecordingHttpServer::RecordingHttpServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString RecordingHttpServer::origin() const
{
    return u"http://127.0.0.1:%1"_s.arg(m_server.serverPort());
}

void RecordingHttpServer::serve(QTcpSocket *socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        socket->setProperty("buffer", buffer);
        return;
    }
    const QByteArray head = buffer.left(headerEnd);
    qsizetype length = 0;
    for (const QByteArray &line : head.split('\n')) {
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toLongLong();
    }
    if (buffer.size() < headerEnd + 4 + length) {
        socket->setProperty("buffer", buffer);
        return;
    }
    socket->setProperty("buffer", buffer.mid(headerEnd + 4 + length));
    m_requestLines.append(head.left(head.indexOf("\r\n")));
    QByteArray response = "HTTP/1.1 " + QByteArray::number(m_status) + " Canned\r\n";
    response += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(m_body.size())
                + "\r\nConnection: close\r\n\r\n" + m_body;
    socket->write(response);
    socket->disconnectFromHost();
}
