#pragma once

#include "ServerConfig.h"

#include <QList>
#include <QString>

#include <memory>

namespace httplib {
class Server;
}
class SyncService;

// Carries HTTP(S) requests under "/api/" to the sync service and logs each one with its
// secrets scrubbed.
class HttpFront final
{
public:
    HttpFront(const ServerConfig &config, SyncService &service);
    ~HttpFront();
    HttpFront(const HttpFront &) = delete;
    HttpFront &operator=(const HttpFront &) = delete;

    // False when TLS was asked for and the certificate or key cannot be used.
    bool isValid() const;
    // Binds the configured host and port (0: any free port); the bound port, or -1.
    int bind();
    // Serves until stop(); false when serving failed.
    bool serve();
    void stop();

    // The base URL clients use.
    QString apiUrl(int boundPort) const;

    // A query for the log: values other than a few harmless ones are replaced.
    static QString scrubbedQuery(const QList<std::pair<QString, QString>> &pairs);

private:
    const ServerConfig &m_config;
    SyncService &m_service;
    std::unique_ptr<httplib::Server> m_server;
};
