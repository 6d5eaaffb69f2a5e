#include "Mailer.h"

#include "Secrets.h"
#include "ServerLog.h"

#include <QDateTime>
#include <QProcess>

Mailer::Mailer(QString outboxDir, QString sendmailCommand)
    : m_outbox(std::move(outboxDir))
    , m_sendmail(std::move(sendmailCommand))
{ }

DurableFile::Result Mailer::send(const QString &to, const QString &subject, const QString &body) const
{
    const QString message = QStringLiteral("To: ") + to + QStringLiteral("\nSubject: ") + subject
                            + QStringLiteral("\nContent-Type: text/plain; charset=utf-8\n\n") + body
                            + QLatin1Char('\n');
    if (!m_sendmail.isEmpty()) {
        QStringList arguments = QProcess::splitCommand(m_sendmail);
        if (arguments.isEmpty())
            return DurableFile::Result::Failed;
        QProcess process;
        process.start(arguments.takeFirst(), arguments);
        if (!process.waitForStarted(5000))
            return DurableFile::Result::Failed;
        process.write(message.toUtf8());
        process.closeWriteChannel();
        const bool ok = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
                        && process.exitCode() == 0;
        if (!ok)
            qCWarning(lcServer) << "the sendmail command failed";
        return ok ? DurableFile::Result::Ok : DurableFile::Result::Failed;
    }
    const QString name = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss-"))
                         + Secrets::randomHex(4) + QStringLiteral(".eml");
    return DurableFile::replace(m_outbox + QLatin1Char('/') + name, message.toUtf8(), 0600);
}
