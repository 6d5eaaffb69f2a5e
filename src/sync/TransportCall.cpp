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
                     std::optional<QByteArray> body, std::function<void(const TransportReply &)> done)
{
    const QUrl target = QUrl::fromEncoded(url.toUtf8(), QUrl::TolerantMode);
    transport.onTransportThread([&transport, target, method, body = std::move(body), done = std::move(done)] {
        const QNetworkRequest request = transport.makeRequest(target);
        QNetworkReply *reply = body ? transport.network().sendCustomRequest(request, method, *body)
                                    : transport.network().sendCustomRequest(request, method);
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply, done] {
            reply->deleteLater();
            TransportReply outcome;
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            if (status.isValid())
                outcome.statusCode = status.toInt();
            outcome.body = reply->readAll();
            if (reply->error() != QNetworkReply::NoError) {
                qCInfo(lcSync) << "request failed:" << reply->url().path() << outcome.statusCode
                               << reply->error();
                outcome.error =
                    RequestError{QStringLiteral("QNetworkReply"), int(reply->error()), scrubbedError(*reply)};
            }
            done(outcome);
        });
    });
}
