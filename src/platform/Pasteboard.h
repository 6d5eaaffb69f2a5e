#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>

#include <optional>

// An image as the clipboard offers it: the bytes of one image type, to be decoded off the main
// thread, or an image that is decoded already (the in-memory clipboard's).
struct ClipboardImage {
    QByteArray bytes;
    QByteArray mimeType;
    QImage decoded;

    // The image; a null image when the bytes decode as none. Safe on any thread.
    QImage decode() const;
};

// The desktop clipboard as the capture and paste-back see it. The change counter rises on
// every change of the content and is never 0 once something was copied. A clipboard that
// learns of its changes (the X server announces each new owner) also emits changed(), on the
// main thread, right after the counter rose; one that learns of nothing never emits it, and its
// counter is found moved by the next poll. Main thread only, except ClipboardImage::decode.
class Pasteboard : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Pasteboard)

public:
    ~Pasteboard() override = default;

    virtual qint64 changeCount() = 0;

    // True when every change, also one made by another program, is reported by changed();
    // then nothing needs to poll the counter. False by default.
    virtual bool reportsEveryChange() const { return false; }

    // True when the clipboard offers no data at all.
    virtual bool isEmpty() = 0;

    // Path of the first local file URL on the clipboard.
    virtual std::optional<QString> firstFilePath() = 0;
    // The first image on the clipboard, not yet decoded; nothing when none is offered.
    virtual std::optional<ClipboardImage> firstImage() = 0;
    // The plain-text string of the clipboard.
    virtual std::optional<QString> string() = 0;
    // True when a password manager marked the content as secret (x-kde-passwordManagerHint).
    virtual bool isMarkedSecretByPasswordManager() = 0;

    virtual void writeString(const QString &text) = 0;
    // Offers the TIFF bytes as image/tiff and a PNG encoding for programs that read only PNG.
    virtual void writeImage(const QByteArray &tiff) = 0;
    // Offers the file as text/uri-list, x-special/gnome-copied-files and its path as text.
    virtual void writeFilePath(const QString &path) = 0;

signals:
    // The content changed; the counter has risen already.
    void changed();

protected:
    explicit Pasteboard(QObject *parent = nullptr)
        : QObject(parent)
    { }
};
