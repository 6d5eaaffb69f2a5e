// History store speed: list queries as the history grows, single-clip writes, schema set-up,
// and the history window's search.
#include "store/DBKeeper.h"
#include "store/HistorySchema.h"
#include "store/HistorySearch.h"
#include "store/PathHelper.h"
#include "support/Database.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

qint64 g_rows = 0;

// Grows the history to at least `rows` rows in one transaction (timestamps ascending).
void ensureRows(qint64 rows)
{
    if (g_rows >= rows)
        return;
    DBObject::inDatabase([&](Database &db) {
        db.exec("BEGIN");
        for (qint64 i = g_rows; i < rows; ++i) {
            const QString hash = QStringLiteral("%1").arg(i, 32, 16, QLatin1Char('0'));
            db.exec(
                "insert into History (content, timeStamp, deviceName, file_hash, type, local_file_ok, category) "
                "values (?, ?, 'bench', ?, 'text_txt', 1, ?)",
                {QStringLiteral("clip number %1 with a short abstract 第%2号剪贴")
                     .arg(i)
                     .arg(i * 7919 % 100003),
                 i, hash, i % 50 == 0 ? Category::favourite : Category::history});
        }
        db.exec("COMMIT");
    });
    g_rows = rows;
}

// One or two letters are below what the trigram index answers: the search reads the rows. The
// history holds at most 10,000 clips (its longest setting); this runs before the table grows.
void BM_searchHistoryShortAt10k(benchmark::State &state)
{
    ensureRows(10000);
    for (auto _ : state) {
        QList<HistoryModel> clips = HistorySearch::find(QStringLiteral("无此"));
        benchmark::DoNotOptimize(clips);
    }
}
BENCHMARK(BM_searchHistoryShortAt10k)->Unit(benchmark::kMillisecond);

void BM_getAllHistoryAtCategory(benchmark::State &state)
{
    ensureRows(state.range(0));
    for (auto _ : state) {
        QList<HistoryModel> newest = DBKeeper::getAllHistoryAtCategory(Category::history, 30);
        benchmark::DoNotOptimize(newest);
    }
}
BENCHMARK(BM_getAllHistoryAtCategory)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The history window's search over 100,000 clips (the target is one frame, 16 ms): a rare
// word, a Chinese one, a text that matches nearly every clip (the newest 500 are shown), and
// two-letter texts, which read every row when nothing matches.
void BM_searchHistory(benchmark::State &state, const QString &text)
{
    ensureRows(100000);
    std::size_t found = 0;
    for (auto _ : state) {
        QList<HistoryModel> clips = HistorySearch::find(text);
        found = std::size_t(clips.size());
        benchmark::DoNotOptimize(clips);
    }
    state.counters["found"] = double(found);
}
BENCHMARK_CAPTURE(BM_searchHistory, rare_word, QStringLiteral("NUMBER 73519 "))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_searchHistory, chinese, QStringLiteral("第4242号"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_searchHistory, nearly_all, QStringLiteral("abstract"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_searchHistory, two_letters, QStringLiteral("zq"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_searchHistory, two_chinese, QStringLiteral("无此"))->Unit(benchmark::kMillisecond);

void BM_saveNewRecordAt10k(benchmark::State &state)
{
    ensureRows(10000);
    qint64 n = 0;
    for (auto _ : state) {
        HistoryModel clip;
        clip.content = QStringLiteral("a new clip");
        clip.file_hash = QStringLiteral("new%1").arg(n++);
        clip.timestamp = 1700000000 + n;
        clip.save();
    }
    DBObject::inDatabase([](Database &db) { db.exec("delete from History where file_hash like 'new%'"); });
}
BENCHMARK(BM_saveNewRecordAt10k)->Unit(benchmark::kMicrosecond);

void BM_updateTimestampAt10k(benchmark::State &state)
{
    ensureRows(10000);
    const QString hash = QStringLiteral("%1").arg(5000, 32, 16, QLatin1Char('0'));
    qint64 t = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(DBKeeper::updateTimestamp(t++, hash));
}
BENCHMARK(BM_updateTimestampAt10k)->Unit(benchmark::kMicrosecond);

void BM_schemaSetUpWithVacuumAt10k(benchmark::State &state)
{
    ensureRows(10000);
    QTemporaryDir folder;
    const QString copy = folder.filePath(QStringLiteral("copy.sqlite"));
    DBObject::inDatabase([&](Database &db) { db.exec("VACUUM INTO ?", {copy}); });
    Database db(copy);
    for (auto _ : state)
        HistorySchema::setUp(db);
}
BENCHMARK(BM_schemaSetUpWithVacuumAt10k)->Unit(benchmark::kMillisecond);

// The check of the database file at every start, before the schema set-up.
void BM_quickCheckAt10k(benchmark::State &state)
{
    ensureRows(10000);
    QTemporaryDir folder;
    const QString copy = folder.filePath(QStringLiteral("copy.sqlite"));
    DBObject::inDatabase([&](Database &db) { db.exec("VACUUM INTO ?", {copy}); });
    for (auto _ : state) {
        Database db(copy, Database::Access::ReadOnly);
        SqlQuery rows = db.query("PRAGMA quick_check");
        benchmark::DoNotOptimize(rows.next());
    }
}
BENCHMARK(BM_quickCheckAt10k)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir data;
    qputenv("QUILLET_DATA_DIR", QFile::encodeName(data.path()));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
