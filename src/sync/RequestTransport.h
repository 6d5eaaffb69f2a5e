#pragma once

#include <QNetworkRequest>

#include <functional>

class QNetworkAccessManager;

// The HTTP client of every request to the sync service: one QNetworkAccessManager on the main
// thread, which is asynchronous already, so replies are read (and the store written) there.
class RequestTransport final
{
    Q_DISABLE_COPY_MOVE(RequestTransport)

public:
    RequestTransport();
    ~RequestTransport();

    QNetworkAccessManager &network();
    // A request for url whose certificate is checked against the system's authorities and the
    // configured CA file, host name included.
    QNetworkRequest makeRequest(const QUrl &url);
    // Runs send on the transport's thread: at once when the caller is there, else queued.
    void onTransportThread(std::function<void()> send);

private:
    QNetworkAccessManager *m_network = nullptr;
    QString m_lastCAFile;
};
