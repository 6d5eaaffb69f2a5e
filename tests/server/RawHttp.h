#pragma once

#include "SyncClient.h"

#include <QByteArray>
#include <QString>

// HTTP/1.1 written byte for byte over a plain socket: requests from a chosen loopback address
// (127.0.0.2, ... stand for other machines), and requests no client library would send.
namespace RawHttp {

// Sends `request` from `fromAddress` to 127.0.0.1:port and reads the reply until the service
// closes the connection (the request should say "Connection: close") or `timeoutMs` passes.
HttpReply exchange(const QString &fromAddress, quint16 port, const QByteArray &request,
                   int timeoutMs = 20000);
// A GET of "/api" + pathAndQuery from `fromAddress`, with "Connection: close".
HttpReply get(const QString &fromAddress, quint16 port, const QString &pathAndQuery);
// The status and JSON body of a raw reply.
HttpReply parse(const QByteArray &raw);

} // namespace RawHttp
