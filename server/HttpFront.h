#pragma once

#include "ServerConfig.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>

struct MHD_Daemon;
class AbuseMeter;
class ConnectionWatch;
class RequestLog;
class SyncService;
class WorkerPool;

// Carries HTTP(S) requests under "/api/" to the sync service, on libmicrohttpd. One thread
// waits on every connection with epoll; a connection holds no other thread while its client
// sends, so slow clients cost a socket each, and each address may hold only a few. A request
// is read in full (within its body limit, whatever the transfer encoding) before a worker
// thread answers it; an address that sends much bad input has its requests answered later.
// Each request is logged with its secrets scrubbed.
class HttpFront final
{
public:
    HttpFront(const ServerConfig &config, SyncService &service);
    ~HttpFront();
    HttpFront(const HttpFront &) = delete;
    HttpFront &operator=(const HttpFront &) = delete;

    // False when TLS was asked for and the certificate or key cannot be read.
    bool isValid() const;
    // Starts listening on the configured host and port (0: any free port); the bound port, or -1.
    int bind();
    // Serves until stop(); false when serving failed.
    bool serve();
    void stop();

    // The base URL clients use.
    QString apiUrl(int boundPort) const;

    // Called by the library's callbacks (plain functions) with this front.
    struct Callbacks;

private:
    const ServerConfig &m_config;
    SyncService &m_service;
    QByteArray m_tlsCert;
    QByteArray m_tlsKey;
    std::unique_ptr<RequestLog> m_log;
    std::unique_ptr<AbuseMeter> m_abuse;
    std::unique_ptr<ConnectionWatch> m_watch;
    std::unique_ptr<WorkerPool> m_workers;
    MHD_Daemon *m_daemon = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stopping = false;
};
