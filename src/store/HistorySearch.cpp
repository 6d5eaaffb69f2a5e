#include "store/HistorySearch.h"

#include "store/DBObject.h"
#include "support/Database.h"

#include <QRegularExpression>

namespace {

// The trigram index answers for three characters or more; shorter texts, which match a large
// part of any history, are found by reading the newest rows in order until enough matched.
constexpr int kShortestIndexed = 3;

// The text as one FTS5 phrase: a substring match that takes no operators from the user.
QString phrase(QString text)
{
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

// The text as a LIKE pattern with its wildcards taken literally.
QString likePattern(QString text)
{
    static const QRegularExpression wildcards(QStringLiteral("([\\\\%_])"));
    return QLatin1Char('%') + text.replace(wildcards, QStringLiteral("\\\\1")) + QLatin1Char('%');
}

QList<HistoryModel> readAll(SqlQuery &rows)
{
    QList<HistoryModel> records;
    while (rows.next())
        records.append(HistoryModel::getObjectFrom(rows));
    return records;
}

} // namespace

namespace HistorySearch {

QList<HistoryModel> find(const QString &text, int limit)
{
    // Searches leave images out: an image's text is its thumbnail's Base64.
    const QString wanted = text.trimmed();
    QList<HistoryModel> records;
    DBObject::inDatabase([&](Database &db) {
        if (wanted.isEmpty()) {
            SqlQuery rows =
                db.query("select * from History where category = 'history' order by timeStamp desc limit ?",
                         {qint64(limit)});
            records = readAll(rows);
            return;
        }
        if (wanted.size() >= kShortestIndexed && db.hasTable(QStringLiteral("History_search"))) {
            SqlQuery rows = db.query(
                "select History.* from History_search join History on History.rowid = "
                "History_search.rowid where History_search match ? and History.category = "
                "'history' and coalesce(History.type, '') not like 'image%' order by History.timeStamp desc limit ?",
                {phrase(wanted), qint64(limit)});
            records = readAll(rows);
            if (!rows.failed())
                return;
            records.clear();
        }
        // LIKE folds ASCII letters only; the index, where it answers, folds every script.
        const QString pattern = likePattern(wanted);
        SqlQuery rows = db.query(
            "select * from History where category = 'history' and coalesce(type, '') not like 'image%' and (content "
            "like ?1 escape '\\' or file_name like ?1 escape '\\') order by timeStamp desc limit ?2",
            {pattern, qint64(limit)});
        records = readAll(rows);
    });
    return records;
}

} // namespace HistorySearch
