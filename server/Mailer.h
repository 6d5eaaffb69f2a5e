#pragma once

#include "DurableFile.h"

#include <QString>

// Sends the service's mails (password resets). With a sendmail command configured, the whole
// message goes to its standard input; otherwise it is written as a file into the outbox folder,
// where a self-hoster (or a test) picks it up. Nothing is ever sent by the service itself.
class Mailer final
{
public:
    Mailer(QString outboxDir, QString sendmailCommand);

    // A mail in the outbox is a complete file or none (NoSpace on a full disk).
    DurableFile::Result send(const QString &to, const QString &subject, const QString &body) const;

private:
    QString m_outbox;
    QString m_sendmail;
};
