#pragma once

#include "sync/RequestManager.h"

#include <QByteArray>
#include <QUrl>

#include <functional>
#include <optional>

class RequestTransport;

// What one HTTP exchange produced: the status (-999 without a response), the body and, for a
// transport failure or a status outside 200-299, the error.
struct TransportReply {
    int statusCode = RequestManager::kNoResponse;
    QByteArray body;
    std::optional<RequestError> error;
};

// Sends one request through the transport and hands the reply to done on the main thread. The
// URL's query carries the sign-in token, so only its path ever reaches the log.
// A reply body larger than maxReplyBytes is not read: the transfer stops with an error.
inline constexpr qint64 kDefaultMaxReplyBytes = 1024 * 1024;
void sendOnTransport(RequestTransport &transport, const QString &url, const QByteArray &method,
                     std::optional<QByteArray> body, std::function<void(const TransportReply &)> done,
                     qint64 maxReplyBytes = kDefaultMaxReplyBytes);
