#pragma once

#include <QProcess>

#include <memory>
#include <vector>

class QImage;

// Other programs that use the clipboard (xclip, helpers), started by a test or a benchmark.
// Those still running when this object goes are ended by their own PIDs.
class ClipboardPrograms final
{
public:
    ClipboardPrograms() = default;
    ~ClipboardPrograms();
    Q_DISABLE_COPY_MOVE(ClipboardPrograms)

    QProcess &start(const QString &program, const QStringList &args,
                    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // xclip takes the clipboard and offers the bytes as this type until another program takes
    // it; -quiet keeps it in the foreground, so its PID is the owner's.
    bool copy(const QByteArray &bytes, const QString &type, int timeoutMs = 20000,
              const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // Reads the clipboard as another program does, running the event loop meanwhile so that
    // this process can answer when it owns the clipboard.
    QByteArray paste(const QString &type, int timeoutMs = 20000);

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// The image encoded as a file of this format, as another program would offer it.
QByteArray imageBytes(const QImage &image, const char *format = "PNG");
