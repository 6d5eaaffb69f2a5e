#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>

// The desktop clipboard as the capture and paste-back see it. The change counter rises on
// every change of the content and is never 0 once something was copied. A clipboard that
// learns of its changes (the X server announces each new owner) also calls the change
// handlers, on the main thread, right after the counter rose; one that learns of nothing
// never calls them, and its counter is found moved by the next poll.
class Pasteboard
{
public:
    virtual ~Pasteboard() = default;

    virtual qint64 changeCount() = 0;

    // True when every change, also one made by another program, is reported to the change
    // handlers; then nothing needs to poll the counter. False by default.
    virtual bool reportsEveryChange() const { return false; }

    // Called after each reported change; the returned id removes the handler again.
    using ChangeHandler = std::function<void()>;
    int addChangeHandler(ChangeHandler handler);
    void removeChangeHandler(int id);

    // True when the clipboard offers no data at all.
    virtual bool isEmpty() = 0;

    // Path of the first local file URL on the clipboard.
    virtual std::optional<QString> firstFilePath() = 0;
    // The first image on the clipboard, decoded; nothing when none can be decoded.
    virtual std::optional<QImage> firstImage() = 0;
    // The plain-text string of the clipboard.
    virtual std::optional<QString> string() = 0;
    // True when a password manager marked the content as secret (x-kde-passwordManagerHint).
    virtual bool isMarkedSecretByPasswordManager() = 0;

    virtual void writeString(const QString &text) = 0;
    // Offers the TIFF bytes as image/tiff and a PNG encoding for programs that read only PNG.
    virtual void writeImage(const QByteArray &tiff) = 0;
    // Offers the file as text/uri-list, x-special/gnome-copied-files and its path as text.
    virtual void writeFilePath(const QString &path) = 0;

protected:
    Pasteboard() = default;
    Pasteboard(const Pasteboard &) = default;
    Pasteboard &operator=(const Pasteboard &) = default;

    // For the clipboards that learn of changes: calls every change handler.
    void reportChange();

private:
    std::map<int, ChangeHandler> m_changeHandlers;
    int m_nextHandlerId = 1;
};
