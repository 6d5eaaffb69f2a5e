#include "sync/TransportCall.h"

#include "support/Log.h"
#include "sync/RequestTransport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

// Qt's error texts quote the whole URL, whose query carries tokens and password hashes.
QString scrubbedError(const QNetworkReply &reply)
{
    QString text = reply.errorString();
    const QUrl &url = reply.url();
    for (const QString &form : {url.toString(), url.toDisplayString(), QString::fromUtf8(url.toEncoded())})
        text.replace(form, url.path());
    return text;
}

} // namespace

void sendOnTransport(RequestTransport &transport, const QString &url, const QByteArray &method,
                     std::optional<QByteArray> body, std::function<void(const TransportReply &)> done,
                     qint64 maxReplyBytes)
{
    const QUrl target = QUrl::fromEncoded(url.toUtf8(), QUrl::TolerantMode);
    transport.onTransportThread([&transport, target, method, body = std::move(body), done = std::move(done),
                                 maxReplyBytes] {
        const QNetworkRequest request = transport.makeRequest(target);
        QNetworkReply *reply = body ? transport.network().sendCustomRequest(request, method, *body)
                                    : transport.network().sendCustomRequest(request, method);
        // A service that sends more than any answer of this kind can be is not read to its end.
        auto tooLarge = std::make_shared<bool>(false);
        QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                         [reply, tooLarge, maxReplyBytes](qint64 received, qint64 total) {
                             if (received > maxReplyBytes || total > maxReplyBytes) {
                                 *tooLarge = true;
                                 reply->abort();
                             }
                         });
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply, done, tooLarge] {
            reply->deleteLater();
            TransportReply outcome;
            if (*tooLarge) {
                qCInfo(lcSync) << "reply too large:" << reply->url().path();
                outcome.error =
                    RequestError{QStringLiteral("QNetworkReply"), int(QNetworkReply::OperationCanceledError),
                                 QStringLiteral("reply too large")};
                done(outcome);
                return;
            }
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            if (status.isValid())
                outcome.statusCode = status.toInt();
            outcome.body = reply->readAll();
            if (reply->error() != QNetworkReply::NoError) {
                qCInfo(lcSync) << "request failed:" << reply->url().path() << outcome.statusCode
                               << reply->error();
                outcome.error = RequestError{QStringLiteral("QNetworkReply"), int(reply->error()),
                                             scrubbedError(*reply), outcome.statusCode};
            }
            done(outcome);
        });
    });
}
