#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// Why a request produced no reply the caller can use.
struct RequestError {
    QString domain;
    int code = 0;
    QString description;
    // The HTTP status of the answer that carried the failure; -999 when there was none.
    int statusCode = -999;
};

using RequestResult = std::optional<QJsonObject>;
// Receives what parse() returned, the HTTP status (-999 without an HTTP response) and the error.
using RequestCompletion = std::function<void(const RequestResult &result, int statusCode,
                                             const std::optional<RequestError> &error)>;

// The root of every request to the sync service's HTTP JSON API. An endpoint overrides a few
// hooks: its path (methodURL), its query pairs (requestURL), its body (genPostData), whether it
// may run (isContinueRequest) and how it reads the reply (parse). Request objects are owned
// through std::shared_ptr: a request keeps its object alive until its completion has run.
class QObject;
class SyncEngine;

class RequestManager : public std::enable_shared_from_this<RequestManager>
{
    Q_DISABLE_COPY_MOVE(RequestManager)

public:
    static constexpr int kNoResponse = -999;
    static constexpr char kClientErrorDomain[] = "com.quillet.client";

    virtual ~RequestManager();

    // Fixed when the object is made.
    QString device_token() const { return m_device_token; }
    QString version() const { return m_version; }
    QString device_type() const { return m_device_type; }
    // The current sign-in token of the engine's account; empty before the request has an engine.
    QString user_token() const;
    QString httpMethod() const { return m_httpMethod; }
    std::optional<QByteArray> httpBodyData() const { return m_httpBodyData; }

    static QString baseURL();
    // The endpoint's URL without a query; every endpoint overrides it.
    virtual QString methodURL() const;
    // methodURL with the identity pairs, then the endpoint's own pairs.
    virtual QString requestURL() const;
    // May the request be sent now: by default only while a user is signed in.
    virtual bool isContinueRequest() const;
    // The engine the request is sent through; set by request(), or beforehand when only its URL
    // is wanted.
    void setSync(SyncEngine &sync) { m_sync = &sync; }
    // Sets the body just before the URL is built; nothing by default.
    virtual void genPostData();
    // The largest reply body the endpoint may send; a larger one is not read.
    virtual qint64 maxReplyBytes() const;
    // Reads a reply body of at least one byte, on the main thread; none by default. It may
    // act on the engine's parts (sync()).
    virtual RequestResult parse(const QByteArray &body);

    // Sends the request through the engine's transport. The completion runs on the main thread
    // exactly once, after parse(); when a context is given and is gone by then, it is dropped.
    void request(SyncEngine &sync, RequestCompletion completion, QObject *context = nullptr);

    // The reply as a JSON object, none when it is not one; and its "code", 0 when missing.
    static std::optional<QJsonObject> jsonObject(const QByteArray &body);
    static qint64 replyCode(const QJsonObject &reply);

protected:
    RequestManager();

    void setHttpMethod(const QString &method) { m_httpMethod = method; }
    void setHttpBodyData(std::optional<QByteArray> body) { m_httpBodyData = std::move(body); }
    // "&user_token=" and the current token.
    QString tokenPair() const;
    // Only while the request has an engine.
    SyncEngine &sync() const { return *m_sync; }
    bool hasSync() const { return m_sync != nullptr; }

private:
    QString m_device_token;
    QString m_version;
    QString m_device_type;
    QString m_httpMethod = QStringLiteral("GET");
    std::optional<QByteArray> m_httpBodyData;
    SyncEngine *m_sync = nullptr;
};
