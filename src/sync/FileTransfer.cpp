#include "sync/FileTransfer.h"

#include "plugins/package.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "support/Log.h"
#include "support/MainQueue.h"
#include "support/Md5.h"
#include "support/PayloadLimit.h"
#include "support/SerialWorker.h"
#include "support/WebUrl.h"
#include "sync/ProgressManager.h"
#include "sync/ReplyChecks.h"
#include "sync/RequestTransport.h"
#include "sync/ServiceRequests.h"
#include "sync/SyncEngine.h"
#include "sync/TransferVerdict.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryFile>

#include <algorithm>

namespace {

// A transfer that failed here (a payload missing or not the clip's), or on an answer of the
// service with this status.
RequestError transferError(int status = RequestManager::kNoResponse)
{
    return RequestError{QLatin1String(kDownloadErrorDomain), -1, QString(), status};
}

int statusOf(const QNetworkReply &reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() ? status.toInt() : RequestManager::kNoResponse;
}

void callOnMain(const ClipCallback &callback, std::optional<QJsonObject> result,
                std::optional<RequestError> error)
{
    dispatchMain([callback, result = std::move(result), error = std::move(error)] {
        if (callback)
            callback(result, error);
    });
}

void textPart(QHttpMultiPart &form, const char *name, const QByteArray &value)
{
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
                   QStringLiteral("form-data; name=\"%1\"").arg(QLatin1String(name)));
    part.setBody(value);
    form.append(part);
}

// 401: the service ended the sign-in (the local history stays); 404: the service no longer has
// the clip, which becomes local only.
void actOnStatus(SyncEngine &sync, int status, const QString &hash)
{
    if (status == 401)
        sync.account().endSignInByService();
    else if (status == 404)
        DBKeeper::setLocalHistoryOnly(hash);
}

// Unpacks the single payload of a downloaded archive through the package extraction (which
// refuses names that leave its folder) and returns the extracted file, if it holds one.
std::optional<QString> unpackPayload(const QString &archive, const QString &folder)
{
    remove_tree(QFile::encodeName(folder).constData());
    if (!QDir().mkpath(folder))
        return std::nullopt;
    if (package_unzip(QFile::encodeName(archive).constData(), QFile::encodeName(folder).constData()) != 0)
        return std::nullopt;
    QDirIterator entries(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    if (!entries.hasNext())
        return std::nullopt;
    return entries.next();
}

// Makes the finished download the clip's payload when its bytes are the clip's: the hash is
// the clip's identity. False, leaving nothing behind, otherwise. Hashes and unpacks, so it runs
// off the main thread.
// The most bytes a payload's download may bring: the payload limit, or the size the record
// announces when that is smaller.
qint64 downloadLimit(const HistoryModel &record)
{
    const qint64 announced = qint64(record.file_size.value_or(0));
    return announced > 0 ? std::min(announced, kMaxPayloadBytes) : kMaxPayloadBytes;
}

bool installDownload(const QString &download, const QString &hash, bool zipped)
{
    const QString payload = PathHelper::getBaseFilePath(hash);
    bool installed = false;
    if (!zipped) {
        if (md5_hex_of_file(download) == hash.toLower()) {
            QFile::remove(payload);
            installed = QFile::rename(download, payload);
        }
    } else {
        const QString folder = PathHelper::getTmpDir(QStringLiteral("download-") + hash);
        const std::optional<QString> entry = unpackPayload(download, folder);
        if (entry && md5_hex_of_file(*entry) == hash.toLower()) {
            QFile::remove(payload);
            installed = QFile::rename(*entry, payload);
        }
        remove_tree(QFile::encodeName(folder).constData());
        if (installed) {
            const QString archive = PathHelper::getZipsFilePath(hash);
            QFile::remove(archive);
            QFile::rename(download, archive);
        }
    }
    QFile::remove(download);
    return installed;
}

} // namespace

UploadFileManager::UploadFileManager(SyncEngine &sync)
    : m_sync(sync)
{ }

void UploadFileManager::upload(const HistoryModel &record, ClipCallback callback)
{
    const bool tooLarge = float(record.file_size.value_or(0)) > float(kMaxPayloadBytes);
    if (!m_sync.account().isSignedIn() || tooLarge || record.isSecret() || !isClipHash(record.hash())) {
        callOnMain(callback, std::nullopt, transferError());
        return;
    }
    auto token = std::make_shared<GetUploadTokenManager>();
    token->setFileHash(record.hash());
    token->setFileId(QString::number(record.file_id.value_or(0)));
    token->request(m_sync, [this, record, callback](const RequestResult &result, int status,
                                                    const std::optional<RequestError> &error) {
        if (result && !error) {
            postForm(record, *result, callback);
            return;
        }
        actOnStatus(m_sync, status, record.hash());
        callOnMain(callback, std::nullopt, error ? error : transferError(status));
    });
}

void UploadFileManager::postForm(const HistoryModel &record, const QJsonObject &credentials,
                                 const ClipCallback &callback)
{
    const QString hash = record.hash();
    const QString path = isZippedType(record.typeName()) ? PathHelper::getZipsFilePath(hash)
                                                         : PathHelper::getBaseFilePath(hash);
    const QUrl host(credentials.value(QStringLiteral("host")).toString());
    if (!isWebUrl(host)) {
        callOnMain(callback, std::nullopt, transferError());
        return;
    }
    auto text = [&](const char *key) { return credentials.value(QLatin1String(key)).toString().toUtf8(); };
    const QByteArray key = text("dir") + '/' + hash.toUtf8();
    const QByteArray policy = text("policy"), back = text("callback"), access = text("accessid"),
                     signature = text("signature");
    RequestTransport &transport = m_sync.transport();
    transport.onTransportThread([&transport, hash, path, host, key, policy, back, access, signature,
                                 callback] {
        auto *file = new QFile(path);
        if (!file->open(QIODevice::ReadOnly)) {
            qCInfo(lcSync) << "upload not started: the payload is missing here";
            delete file;
            callOnMain(callback, std::nullopt, transferError());
            return;
        }
        auto *form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        textPart(*form, "key", key);
        textPart(*form, "policy", policy);
        textPart(*form, "success_action_status", "200");
        textPart(*form, "callback", back);
        textPart(*form, "OSSAccessKeyID", access);
        textPart(*form, "signature", signature);
        QHttpPart filePart;
        filePart.setHeader(QNetworkRequest::ContentDispositionHeader,
                           QStringLiteral("form-data; name=\"file\"; filename=\"%1\"").arg(hash));
        filePart.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
        filePart.setBodyDevice(file);
        file->setParent(form);
        form->append(filePart);
        QNetworkReply *reply = transport.network().post(transport.makeRequest(host), form);
        form->setParent(reply);
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply, hash, callback] {
            reply->deleteLater();
            const int status = statusOf(*reply);
            // 409: the service holds this payload already (an earlier upload whose answer was
            // lost), which is what the upload was for.
            if (reply->error() != QNetworkReply::NoError && status != 409) {
                qCInfo(lcSync) << "upload failed:" << status << reply->error();
                callOnMain(callback, std::nullopt,
                           RequestError{QLatin1String(kNetworkErrorDomain), int(reply->error()),
                                        QStringLiteral("upload failed"), status});
                return;
            }
            DBKeeper::setRemoteFileReady(1, hash);
            callOnMain(callback, RequestManager::jsonObject(reply->readAll()), std::nullopt);
        });
    });
}

DownloadFileManager::DownloadFileManager(SyncEngine &sync)
    : m_sync(sync)
{ }

void DownloadFileManager::downloadHistory(const HistoryModel &record, ClipCallback callback)
{
    const QString hash = record.hash();
    if (!m_sync.account().isSignedIn() || !isClipHash(hash)) {
        callOnMain(callback, std::nullopt, transferError());
        return;
    }
    if (QFileInfo::exists(PathHelper::getBaseFilePath(hash))) {
        DBKeeper::setLocalFileOkWithHash(hash);
        callOnMain(callback, std::nullopt, std::nullopt);
        return;
    }
    const bool zipped = isZippedType(record.typeName());
    const qint64 limit = downloadLimit(record);
    QFile::remove(PathHelper::getZipsFilePath(hash));
    auto request = std::make_shared<DownloadFileRequest>();
    request->setSync(m_sync);
    request->setFileHash(hash);
    request->setFileId(QString::number(record.file_id.value_or(0)));
    const QUrl url = QUrl::fromEncoded(request->requestURL().toUtf8(), QUrl::TolerantMode);
    m_sync.transport().onTransportThread([this, url, hash, zipped, limit, callback] {
        const QString folder = zipped ? PathHelper::getZipsFilePath() : PathHelper::getBaseFilePath();
        QDir().mkpath(folder);
        auto *download = new QTemporaryFile(folder + QStringLiteral("/.download-XXXXXX"));
        if (!download->open()) {
            delete download;
            callOnMain(callback, std::nullopt, transferError());
            return;
        }
        QNetworkRequest get = m_sync.transport().makeRequest(url);
        get.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        QNetworkReply *reply = m_sync.transport().network().get(get);
        download->setParent(reply);
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, download, limit] {
            const QByteArray chunk = reply->readAll();
            // More than the payload can be is no payload: the transfer stops and leaves nothing.
            if (download->size() + chunk.size() > limit || download->write(chunk) < 0)
                reply->abort();
        });
        QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                         [this, hash](qint64 received, qint64 total) {
                             m_sync.progress().progress(received, total, hash);
                         });
        QObject::connect(
            reply, &QNetworkReply::finished, reply, [this, reply, download, hash, zipped, limit, callback] {
                reply->deleteLater();
                const int status = statusOf(*reply);
                actOnStatus(m_sync, status, hash);
                bool complete = reply->error() == QNetworkReply::NoError && status == 200;
                if (complete) {
                    const QByteArray rest = reply->readAll();
                    complete = download->size() + rest.size() <= limit && download->write(rest) >= 0;
                }
                if (complete)
                    complete = download->flush();
                if (!complete) {
                    // The temporary file goes with the reply.
                    qCInfo(lcSync) << "download discarded:" << status << reply->error();
                    // Without an answer the service was not reached; anything else concerns the clip.
                    const bool unreached =
                        status == RequestManager::kNoResponse && reply->error() != QNetworkReply::NoError;
                    callOnMain(callback, std::nullopt,
                               unreached
                                   ? RequestError{QLatin1String(kNetworkErrorDomain), int(reply->error()),
                                                  QStringLiteral("download failed")}
                                   : transferError(status));
                    return;
                }
                download->setAutoRemove(false);
                const QString downloaded = download->fileName();
                download->close();
                runInBackground<bool>(
                    &m_sync, [downloaded, hash, zipped] { return installDownload(downloaded, hash, zipped); },
                    [hash, callback](bool installed) {
                        if (!installed) {
                            qCInfo(lcSync) << "download discarded: its bytes are not the clip's";
                            callOnMain(callback, std::nullopt, transferError(200));
                            return;
                        }
                        DBKeeper::setLocalFileOkWithHash(hash);
                        callOnMain(callback, std::nullopt, std::nullopt);
                    });
            });
    });
}
