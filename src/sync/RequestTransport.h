#pragma once

#include <QNetworkRequest>

class QNetworkAccessManager;
class SerialQueue;

// An HTTP client living on its own serial queue, where every reply is handled one at a time.
// The request layer's shared one runs on "data manager"; the push, favourite and file
// managers each keep one of their own, made once and never destroyed.
class RequestTransport final
{
    Q_DISABLE_COPY_MOVE(RequestTransport)

public:
    static RequestTransport &sharedInstance();
    explicit RequestTransport(const QString &queueName);

    SerialQueue &queue() { return *m_queue; }
    // Only on the queue's thread.
    QNetworkAccessManager &network();
    // A request for url whose certificate is checked against the system's authorities and the
    // configured CA file, host name included. Only on the queue's thread.
    QNetworkRequest makeRequest(const QUrl &url);

private:
    SerialQueue *m_queue = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    QString m_lastCAFile;
};
