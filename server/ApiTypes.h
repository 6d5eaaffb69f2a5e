#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// One request to the sync service, independent of the HTTP library that carried it.
struct ApiRequest {
    QString method;
    QString endpoint; // e.g. "/push/"
    QHash<QString, QString> query; // decoded query pairs (first value of each key)
    QByteArray body;
    QString remoteAddress;
    QString baseUrl; // e.g. "https://host:port/api"
    // The upload form: text fields and the file part.
    QHash<QString, QByteArray> formFields;
    std::optional<QByteArray> formFile;
};

struct ApiReply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
};
