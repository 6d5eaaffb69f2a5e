// Status menu speed: rebuilding the menu from a large history. With "--fill ROWS FOLDER" it
// instead fills the database of a data folder, and with "--image SIDE FILE" it writes a PNG
// photo-like test image of SIDE×SIDE pixels, for the measurements of idle_usage.sh.
#include "menu/MenuController.h"
#include "store/ClipFileManager.h"
#include "store/ConfigureManager.h"
#include "store/DBObject.h"
#include "store/HistoryStore.h"
#include "store/Settings.h"
#include "support/Database.h"
#include "sync/SyncEngine.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstring>

namespace {

constexpr qint64 kFavourites = 30;

// Fills the history with `rows` text clips and kFavourites favourites, in one transaction.
void fillHistory(qint64 rows)
{
    DBObject::inDatabase([&](Database &db) {
        db.exec("BEGIN");
        for (qint64 i = 0; i < rows + kFavourites; ++i) {
            const bool favourite = i >= rows;
            db.exec(
                "insert into History (content, timeStamp, deviceName, file_hash, type, local_file_ok, category, "
                "favourite) values (?, ?, 'bench', ?, 'text_txt', 1, ?, ?)",
                {QStringLiteral("clip number %1 with a short abstract").arg(i), 1700000000 + i,
                 QStringLiteral("%1").arg(i, 32, 16, QLatin1Char('0')),
                 favourite ? QStringLiteral("favourite") : QStringLiteral("history"),
                 favourite ? qint64(1700000000) : qint64(0)});
        }
        db.exec("COMMIT");
    });
}

void BM_buildMenu(benchmark::State &state)
{
    static bool filled = false;
    if (!filled) {
        fillHistory(100000);
        filled = true;
    }
    // Made once, as the program makes it, and kept while the process runs.
    static auto *settings = new Settings;
    static auto *files = new ClipFileManager;
    static auto *account = new ConfigureManager(*settings, *files);
    static auto *store = new HistoryStore(*files);
    static auto *sync = new SyncEngine(*account, *store);
    static auto *menuController = new MenuController(*sync);
    MenuController &menus = *menuController;
    for (auto _ : state) {
        QMenu *menu = menus.buildMenu();
        benchmark::DoNotOptimize(menu);
        // The submenus of the previous build are deleted once control returns to the loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    state.counters["items"] = static_cast<double>(menus.mainMenu()->actions().size());
}
BENCHMARK(BM_buildMenu)->Unit(benchmark::kMillisecond);

// Smooth gradients with noise, as a photo has: nothing a compressor can fold away.
bool writeImage(int side, const QString &path)
{
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator noise(42);
    for (int y = 0; y < side; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < side; ++x) {
            const int n = int(noise.bounded(32));
            line[x] = qRgb((x * 255 / side + n) & 255, (y * 255 / side + n) & 255,
                           ((x + y) * 127 / side + n) & 255);
        }
    }
    return image.save(path, "PNG");
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "--image") == 0)
        return writeImage(QByteArray(argv[2]).toInt(), QString::fromLocal8Bit(argv[3])) ? 0 : 1;
    if (argc == 4 && std::strcmp(argv[1], "--fill") == 0) {
        qputenv("QUILLET_DATA_DIR", argv[3]);
        fillHistory(QByteArray(argv[2]).toLongLong());
        return 0;
    }
    QTemporaryDir data;
    QTemporaryDir config;
    qputenv("QUILLET_DATA_DIR", QFile::encodeName(data.path()));
    qputenv("QUILLET_CONFIG_DIR", QFile::encodeName(config.path()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
