#include "store/HistorySearch.h"

#include "store/DBObject.h"
#include "support/Database.h"

#include <QRegularExpression>

namespace {

// The trigram index answers for three characters or more; shorter texts are found by reading
// the rows, newest first, until enough matched.
constexpr int kShortestIndexed = 3;
// How many of the newest clips are read in order before the index is asked.
constexpr qint64 kNewestScanned = 3000;

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
        const bool indexed =
            wanted.size() >= kShortestIndexed && db.hasTable(QStringLiteral("History_search"));
        if (!indexed) {
            // Read newest first until enough matched: every row of the history when few match.
            SqlQuery rows =
                db.query("select * from History where category = 'history' and coalesce(type, '') "
                         "not like 'image%' and (content like ?1 escape '\\' or file_name like ?1 "
                         "escape '\\') order by timeStamp desc limit ?2",
                         {likePattern(wanted), qint64(limit)});
            records = readAll(rows);
            return;
        }
        // A text found in many clips is found soonest among the newest clips, read in order: the
        // index would list every match before they could be sorted.
        {
            SqlQuery rows = db.query(
                "select * from (select * from History where category = 'history' order by timeStamp desc limit "
                "?3) where coalesce(type, '') not like 'image%' and (content like ?1 escape '\\' or file_name "
                "like ?1 escape '\\') limit ?2",
                {likePattern(wanted), qint64(limit), kNewestScanned});
            records = readAll(rows);
            if (records.size() >= limit)
                return;
        }
        // Fewer matches than wanted among the newest clips: the index finds all of them at once
        // (it folds the case of every script; LIKE above folds ASCII letters only).
        SqlQuery rows =
            db.query("select * from History where rowid in (select rowid from History_search where "
                     "History_search match ?) and +category = 'history' and coalesce(type, '') not like "
                     "'image%' order by +timeStamp desc limit ?",
                     {phrase(wanted), qint64(limit)});
        QList<HistoryModel> found = readAll(rows);
        if (!rows.failed())
            records = std::move(found);
    });
    return records;
}

} // namespace HistorySearch
