// The English translation is complete: every text of the sources is in it and translated,
// with the same placeholders.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace {

// "context: source" of every message whose translation is missing, unfinished or has other
// placeholders than its source.
QStringList problems(const QByteArray &ts)
{
    static const QRegularExpression marker(u"%\\d"_s);
    const auto placeholders = [](const QString &text) {
        QSet<QString> found;
        for (const QRegularExpressionMatch &match : marker.globalMatch(text))
            found << match.captured();
        return found;
    };
    QStringList found;
    QXmlStreamReader xml(ts);
    QString context;
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == "name"_L1) {
            context = xml.readElementText();
        } else if (xml.name() == "source"_L1) {
            source = xml.readElementText();
        } else if (xml.name() == "translation"_L1) {
            const bool unfinished = xml.attributes().value("type"_L1) == "unfinished"_L1;
            const QString translation = xml.readElementText();
            if (unfinished || translation.trimmed().isEmpty()
                || placeholders(source) != placeholders(translation))
                found << context + u": "_s + source;
        }
    }
    return found;
}

} // namespace

class TestTranslations final : public QObject
{
    Q_OBJECT

private slots:
    void englishTranslationIsComplete()
    {
        // The sources' texts, merged into a copy as the update_translations target does.
        QTemporaryDir scratch;
        const QString copy = scratch.filePath(u"quillet_en.ts"_s);
        QVERIFY(QFile::copy(QStringLiteral(QUILLET_TS_FILE), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        QProcess lupdate;
        lupdate.start(QStringLiteral(LUPDATE_PROGRAM),
                      {u"-silent"_s, u"-locations"_s, u"none"_s, u"-no-obsolete"_s,
                       QStringLiteral(QUILLET_SOURCE_DIR), u"-ts"_s, copy});
        QVERIFY(lupdate.waitForFinished(120000));
        QCOMPARE(lupdate.exitCode(), 0);
        QFile merged(copy);
        QVERIFY(merged.open(QIODevice::ReadOnly));
        const QByteArray ts = merged.readAll();
        // lupdate found the sources' texts.
        QVERIFY(ts.count("<translation") > 100);
        const QStringList wrong = problems(ts);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(TestTranslations)
#include "tst_translations.moc"
