#pragma once

#include <QObject>

class ClipFileManager;

// The history store as the program's parts share it: the payload files, and the signal that
// tells whoever shows the history (the menu) that rows changed, whoever changed them (the
// capture, a menu action, a pull, a notice, a clear). Made once by the application.
class HistoryStore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryStore)

public:
    explicit HistoryStore(ClipFileManager &files, QObject *parent = nullptr)
        : QObject(parent)
        , m_files(files)
    { }

    ClipFileManager &files() { return m_files; }
    void announceChanged() { emit changed(); }

signals:
    void changed();

private:
    ClipFileManager &m_files;
};
