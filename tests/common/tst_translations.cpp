// The English translation is complete: every text of the sources is in it and translated,
// with the same placeholders, and nothing in it is left over from texts that are gone.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace {

struct Message {
    QString context;
    QString source;
    QString translation;
    bool unfinished = false;
};

QList<Message> readMessages(const QByteArray &ts)
{
    QList<Message> messages;
    QXmlStreamReader xml(ts);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == "name"_L1) {
            context = xml.readElementText();
        } else if (xml.name() == "message"_L1) {
            current = Message{context, {}, {}, false};
        } else if (xml.name() == "source"_L1) {
            current.source = xml.readElementText();
        } else if (xml.name() == "translation"_L1) {
            current.unfinished = xml.attributes().value("type"_L1) == "unfinished"_L1;
            current.translation = xml.readElementText();
            messages << current;
        }
    }
    return messages;
}

QSet<QString> placeholders(const QString &text)
{
    static const QRegularExpression marker(u"%\\d"_s);
    QSet<QString> found;
    for (const QRegularExpressionMatch &match : marker.globalMatch(text))
        found << match.captured();
    return found;
}

} // namespace

class TestTranslations final : public QObject
{
    Q_OBJECT

private slots:
    void englishTranslationIsComplete()
    {
        QFile original(QStringLiteral(QUILLET_TS_FILE));
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray stored = original.readAll();

        // The sources' texts, merged into a copy as the update_translations target does.
        QTemporaryDir scratch;
        const QString copy = scratch.filePath(u"quillet_en.ts"_s);
        QVERIFY(QFile::copy(original.fileName(), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        QProcess lupdate;
        lupdate.start(QStringLiteral(LUPDATE_PROGRAM),
                      {u"-silent"_s, u"-locations"_s, u"none"_s, u"-no-obsolete"_s,
                       QStringLiteral(QUILLET_SOURCE_DIR), u"-ts"_s, copy});
        QVERIFY(lupdate.waitForFinished(120000));
        QCOMPARE(lupdate.exitCode(), 0);
        QFile merged(copy);
        QVERIFY(merged.open(QIODevice::ReadOnly));
        const QList<Message> messages = readMessages(merged.readAll());
        QVERIFY(messages.size() > 100);

        QStringList problems;
        for (const Message &message : messages) {
            const QString where = message.context + u": "_s + message.source;
            if (message.unfinished || message.translation.trimmed().isEmpty())
                problems << u"untranslated "_s + where;
            else if (placeholders(message.source) != placeholders(message.translation))
                problems << u"placeholders differ "_s + where;
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
        // Texts that are gone from the sources are gone from the file too.
        QVERIFY2(readMessages(stored).size() == messages.size(),
                 "translations/quillet_en.ts is not current: build the update_translations target");
    }
};

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
