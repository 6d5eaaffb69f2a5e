// The clip record: defaults, upsert rules, the change-mark handshake and the JSON form.
#include "TestDirs.h"
#include "platform/HostInfo.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "support/Clock.h"
#include "support/Database.h"

#include <QJsonDocument>
#include <QThread>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

HistoryModel makeClip(const QString &hash, const QString &category = Category::history)
{
    HistoryModel clip;
    clip.content = u"text of "_s + hash;
    clip.file_hash = hash;
    clip.category = category;
    return clip;
}

// Reads one column of the row with this key straight from the table.
QVariant storedColumn(const QString &hash, const QString &category, const char *column)
{
    QVariant value;
    DBObject::inDatabase([&](Database &db) {
        const QByteArray sql =
            QByteArray("select ") + column + " from History where file_hash = ? and category = ?";
        SqlQuery rows = db.query(sql.constData(), {hash, category});
        if (rows.next())
            value = rows.isNull(0) ? QVariant() : QVariant(rows.text(0).value_or(QString()));
    });
    return value;
}

} // namespace

class TestHistoryModel final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;

private slots:
    void init() { DBKeeper::removeAllData(); }

    void incompleteRecordsLeaveTheTableAsItWas()
    {
        HistoryModel noContent;
        noContent.file_hash = u"h2"_s;
        noContent.save();
        HistoryModel noHash;
        noHash.content = u"x"_s;
        noHash.save();
        QVERIFY(DBKeeper::getAllHistory().isEmpty());

        // An update binds every field; an absent required one fails the whole statement.
        HistoryModel clip = makeClip(u"h4"_s);
        clip.timestamp = 5;
        clip.save();
        clip.content = std::nullopt;
        clip.timestamp = 99;
        clip.save();
        QCOMPARE(storedColumn(u"h4"_s, Category::history, "timeStamp").toDouble(), 5.0);
    }

    void saveOfExistingKeyKeepsChangeMarkAndSecretFlag()
    {
        HistoryModel clip = makeClip(u"h3"_s);
        clip.save();
        clip.increase_change_count();
        clip.signSecret(true);
        const QString markBefore = storedColumn(u"h3"_s, Category::history, "change_timestamp").toString();

        HistoryModel update = makeClip(u"h3"_s);
        update.history_id = 1;
        update.file_id = 0;
        update.content = u"changed"_s;
        update.timestamp = 42;
        update.change_timestamp = 0;
        update.secret = false;
        update.save();

        QCOMPARE(storedColumn(u"h3"_s, Category::history, "content").toString(), u"changed"_s);
        QCOMPARE(storedColumn(u"h3"_s, Category::history, "secert").toString(), u"1"_s);
        QCOMPARE(storedColumn(u"h3"_s, Category::history, "change_timestamp").toString(), markBefore);
    }

    void categoriesAreSeparateRowsButShareSecretMark()
    {
        HistoryModel history = makeClip(u"h5"_s);
        HistoryModel favourite = makeClip(u"h5"_s, Category::favourite);
        history.save();
        favourite.save();
        QVERIFY(history.isExist());
        QVERIFY(favourite.isExist());

        history.signSecret(true);
        QCOMPARE(storedColumn(u"h5"_s, Category::favourite, "secert").toString(), u"1"_s);
        QVERIFY(!history.secret.value()); // the record in memory is left as it was

        favourite.del();
        QVERIFY(!favourite.isExist());
        QVERIFY(history.isExist());
    }

    void changeMarkHandshakeAcrossTwoCopies()
    {
        HistoryModel first = makeClip(u"h6"_s);
        first.save();
        Clock::setSourceForTesting([] { return 1700000000.25; });
        first.increase_change_count();
        HistoryModel second = first;
        // A newer local change, one second later, by another copy of the same clip.
        Clock::setSourceForTesting([] { return 1700000001.5; });
        second.increase_change_count();
        Clock::setSourceForTesting({});

        first.return_to_zero_change_count();
        QVERIFY(storedColumn(u"h6"_s, Category::history, "change_timestamp").toDouble() > 0);

        second.return_to_zero_change_count();
        QCOMPARE(storedColumn(u"h6"_s, Category::history, "change_timestamp").toDouble(), 0.0);
    }

    void jsonFormLeavesOutAbsentAndLocalFields()
    {
        HistoryModel clip = makeClip(u"h9"_s);
        clip.timestamp = 1700000000;
        clip.change_timestamp = 5;
        clip.secret = true;
        const QJsonObject json = clip.toJson();
        QVERIFY(!json.contains("file_name"_L1));
        QVERIFY(!json.contains("history_id"_L1));
        for (const char *local : {"secert", "category", "file_size", "local_file_ok", "change_timestamp"})
            QVERIFY2(!json.contains(QLatin1String(local)), local);
        QCOMPARE(json.value("timestamp"_L1).toDouble(), 1700000000.0);
        QCOMPARE(json.value("type"_L1).toString(), u"text_txt"_s);
        QCOMPARE(json.value("file_ready"_L1).toInt(), 0);
    }

    void jsonInputIsLenient()
    {
        const QJsonObject input =
            QJsonDocument::fromJson(
                R"({"content":"c","file_hash":"abc","history_id":12,"favourite":-1700000000,
                "file_name":null,"unknown":true,"secert":1,"category":"favourite"})")
                .object();
        const std::optional<HistoryModel> clip = HistoryModel::fromJson(input);
        QVERIFY(clip);
        QCOMPARE(clip->file_hash, u"abc"_s);
        QCOMPARE(clip->history_id, 12);
        QCOMPARE(clip->favourite, qint64(-1700000000));
        QVERIFY(!clip->file_name);
        QCOMPARE(clip->secret, false); // never taken from JSON
        QCOMPARE(clip->category, Category::history); // never taken from JSON

        const std::optional<HistoryModel> noHash =
            HistoryModel::fromJson(QJsonObject{{"content"_L1, "x"_L1}});
        QVERIFY(noHash && !noHash->file_hash);
        QVERIFY(!HistoryModel::fromJson(QJsonValue(QJsonArray())));
    }

    void hostileValuesAreStoredAsData()
    {
        HistoryModel clip = makeClip(u"x' or '1'='1"_s);
        clip.content = u"'; drop table History; --"_s;
        clip.save();
        QVERIFY(clip.isExist());
        QCOMPARE(DBKeeper::getAllHistory().first().content, clip.content);
        HistoryModel other = makeClip(u"other"_s);
        QVERIFY(!other.isExist());
    }
};

QTEST_GUILESS_MAIN(TestHistoryModel)
#include "tst_history_model.moc"
