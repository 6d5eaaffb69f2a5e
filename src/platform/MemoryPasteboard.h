#pragma once

#include "platform/Pasteboard.h"

#include <QStringList>

// A clipboard held in memory, for tests of the logic above the platform layer. Every change
// of the content counts as a new copy, as on the desktop, and is reported by changed() unless
// reporting is turned off (a desktop that announces nothing).
class MemoryPasteboard final : public Pasteboard
{
public:
    MemoryPasteboard() = default;

    qint64 changeCount() override { return m_changeCount; }
    bool isEmpty() override;
    std::optional<QString> firstFilePath() override;
    std::optional<ClipboardImage> firstImage() override;
    std::optional<QString> string() override { return m_string; }
    bool isMarkedSecretByPasswordManager() override { return m_secretHint; }

    void writeString(const QString &text) override;
    void writeImage(const QByteArray &tiff) override;
    void writeFilePath(const QString &path) override;

    // What another program could put on the clipboard; each call replaces the content.
    void setString(const QString &text);
    void setImage(const QImage &image);
    void setFilePaths(const QStringList &paths);
    // Several kinds at once, as one copy (e.g. a file manager offers the path as text too).
    void setContent(const QStringList &filePaths, const std::optional<QImage> &image,
                    const std::optional<QString> &text);
    void setSecretHint(bool secret) { m_secretHint = secret; }
    // Off: changes only move the counter, as on a desktop that announces no changes.
    void setReportsChanges(bool reports) { m_reportsChanges = reports; }
    void clear();

    // The bytes of the last writeImage, as the desktop would offer them.
    QByteArray tiffData() const { return m_tiff; }
    QByteArray pngData() const { return m_png; }

private:
    void contentChanged();

    qint64 m_changeCount = 0;
    QStringList m_filePaths;
    std::optional<QImage> m_image;
    std::optional<QString> m_string;
    QByteArray m_tiff;
    QByteArray m_png;
    bool m_secretHint = false;
    bool m_reportsChanges = true;
};
