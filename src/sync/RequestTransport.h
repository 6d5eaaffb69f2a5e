#pragma once

#include <QNetworkRequest>

class QNetworkAccessManager;
class SerialQueue;

// The one HTTP client of the request layer: a QNetworkAccessManager living on the serial queue
// "data manager", where every reply is handled and parsed, one at a time.
class RequestTransport final
{
    Q_DISABLE_COPY_MOVE(RequestTransport)

public:
    static RequestTransport &sharedInstance();

    SerialQueue &queue() { return *m_queue; }
    // Only on the queue's thread.
    QNetworkAccessManager &network();
    // A request for url whose certificate is checked against the system's authorities and the
    // configured CA file, host name included. Only on the queue's thread.
    QNetworkRequest makeRequest(const QUrl &url);

private:
    RequestTransport();

    SerialQueue *m_queue = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    QString m_lastCAFile;
};
