#pragma once

#include "platform/Pasteboard.h"

#include <QStringList>

// Records what paste-back writes, in the form the desktop would receive it.
class RecordingPasteboard final : public Pasteboard
{
public:
    qint64 changeCount() override { return m_changes; }
    bool isEmpty() override { return m_string.value_or(QString()).isEmpty() && m_tiff.isEmpty() && m_file.isEmpty(); }
    std::optional<QString> firstFilePath() override { return m_file.isEmpty() ? std::nullopt : std::optional(m_file); }
    std::optional<QImage> firstImage() override { return std::nullopt; }
    std::optional<QString> string() override { return m_string; }
    bool isMarkedSecretByPasswordManager() override { return false; }

    void writeString(const QString &text) override { replace(); m_string = text; }
    void writeImage(const QByteArray &tiff) override { replace(); m_tiff = tiff; }
    void writeFilePath(const QString &path) override { replace(); m_file = path; m_string = path; }

    QByteArray tiff() const { return m_tiff; }
    QString file() const { return m_file; }

private:
    void replace()
    {
        ++m_changes;
        m_string.reset();
        m_tiff.clear();
        m_file.clear();
    }

    qint64 m_changes = 0;
    std::optional<QString> m_string;
    QByteArray m_tiff;
    QString m_file;
};
