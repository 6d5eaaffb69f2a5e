#include "ClipboardPrograms.h"
#include "XvfbServer.h"

#include <QBuffer>
#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;

ClipboardPrograms::~ClipboardPrograms()
{
    for (const std::unique_ptr<QProcess> &process : m_processes)
        endProcess(*process);
}

QProcess &ClipboardPrograms::start(const QString &program, const QStringList &args,
                                   const QProcessEnvironment &environment)
{
    m_processes.push_back(std::make_unique<QProcess>());
    QProcess &process = *m_processes.back();
    process.setProcessEnvironment(environment);
    // xclip -quiet reports every selection request; the errors of other programs are worth seeing.
    if (program == "xclip"_L1)
        process.setStandardErrorFile(QProcess::nullDevice());
    else
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, args);
    return process;
}

bool ClipboardPrograms::copy(const QByteArray &bytes, const QString &type, int timeoutMs,
                             const QProcessEnvironment &environment)
{
    QProcess &xclip = start(
        u"xclip"_s, {u"-quiet"_s, u"-selection"_s, u"clipboard"_s, u"-t"_s, type, u"-i"_s}, environment);
    if (!xclip.waitForStarted(timeoutMs))
        return false;
    xclip.write(bytes);
    xclip.closeWriteChannel();
    return true;
}

QByteArray ClipboardPrograms::paste(const QString &type, int timeoutMs)
{
    QProcess &xclip = start(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s, u"-t"_s, type});
    if (!QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, timeoutMs))
        return {};
    return xclip.readAllStandardOutput();
}

QByteArray imageBytes(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}
