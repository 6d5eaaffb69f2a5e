#pragma once

#include "platform/Pasteboard.h"

class QClipboard;
class QMimeData;

// The X11 CLIPBOARD selection through QClipboard (xcb). The change counter counts the
// clipboard's change notices (XFixes selection notices for other programs' copies, and this
// program's own writes), and each notice calls the change handlers at once; the counter
// starts at 1 when the clipboard holds something, so that the first poll captures it. Needs
// a QGuiApplication on the xcb platform.
class X11Pasteboard final : public Pasteboard
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(X11Pasteboard)

public:
    explicit X11Pasteboard(QObject *parent = nullptr);

    qint64 changeCount() override { return m_changeCount; }
    // True when the X server has the XFIXES extension, through which it announces every new
    // owner of the clipboard.
    bool reportsEveryChange() const override { return m_announcesOwners; }
    bool isEmpty() override;
    // The first local file of text/uri-list, else of x-special/gnome-copied-files.
    std::optional<QString> firstFilePath() override;
    // The bytes of the first image the clipboard offers in a format Qt decodes, PNG preferred.
    std::optional<ClipboardImage> firstImage() override;
    std::optional<QString> string() override;
    bool isMarkedSecretByPasswordManager() override;

    void writeString(const QString &text) override;
    void writeImage(const QByteArray &tiff) override;
    void writeFilePath(const QString &path) override;

    // Parsers of the clipboard's file lists, public for tests.
    static std::optional<QString> firstLocalFileOfUriList(const QByteArray &uriList);
    static std::optional<QString> firstLocalFileOfGnomeCopiedFiles(const QByteArray &data);

private:
    const QMimeData *content() const;

    QClipboard *m_clipboard;
    bool m_announcesOwners = false;
    qint64 m_changeCount = 0;
};
