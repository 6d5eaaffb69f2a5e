#pragma once

#include <QTcpServer>

// A minimal HTTP/1.1 server on 127.0.0.1 that records the request line of every request and
// answers each with the same canned status and body: for checking what goes over the wire
// byte for byte, and for replies a real service does not give (an empty body, no JSON).
class RecordingHttpServer final : public QObject
{
    Q_OBJECT

public:
    RecordingHttpServer();

    QString origin() const;
    void setReply(int status, const QByteArray &body)
    {
        m_status = status;
        m_body = body;
    }
    // "GET /path?query HTTP/1.1" of each request, in order.
    QList<QByteArray> requestLines() const { return m_requestLines; }

private:
    void serve(QTcpSocket *socket);

    QTcpServer m_server;
    QList<QByteArray> m_requestLines;
    int m_status = 200;
    QByteArray m_body = "{\"code\":0}";
};
