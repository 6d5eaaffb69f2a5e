// Capture speed into a history of 10,000 rows: a 100-byte text, a 1 MP image and a 5.5 MiB
// file through the in-memory clipboard, the file beside its floor (MD5 + copy + deflate of the
// same bytes), and a 5.5 MiB PNG copied by value by another program (xclip) to the real X11
// clipboard of a private X server.
#include "CaptureWait.h"
#include "ClipboardPrograms.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "XvfbServer.h"
#include "capture/ClipController.h"
#include "platform/MemoryPasteboard.h"
#include "platform/X11Pasteboard.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "support/Database.h"
#include "support/Md5.h"
#include "support/PayloadLimit.h"
#include "support/ZipWriter.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdio>

namespace {

constexpr qint64 kHistoryRows = 10000;
constexpr qint64 kFileSize = kMaxPayloadBytes;

QTemporaryDir *g_files = nullptr;
qint64 g_serial = 0;
// One source for every file, so that no two files of a run have the same bytes.
QRandomGenerator g_random(11);

void fillHistory()
{
    DBObject::inDatabase([&](Database &db) {
        db.exec("BEGIN");
        for (qint64 i = 0; i < kHistoryRows; ++i) {
            const QString hash = QStringLiteral("%1").arg(i, 32, 16, QLatin1Char('0'));
            db.exec(
                "insert into History (content, timeStamp, deviceName, file_hash, type, local_file_ok, category) "
                "values (?, ?, 'bench', ?, 'text_txt', 1, 'history')",
                {QStringLiteral("clip number %1 with a short abstract").arg(i), i, hash});
        }
        db.exec("COMMIT");
    });
}

// A photograph-like picture: smooth gradients with grain, different for each seed.
QImage photo(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int grain = int(random.bounded(48));
            line[x] = qRgb((x * 255 / width + grain) & 255, (y * 255 / height + grain) & 255,
                           ((x + y) * 127 / (width + height) + grain) & 255);
        }
    }
    return image;
}

void BM_CaptureText100Bytes(benchmark::State &state)
{
    MemoryPasteboard pasteboard;
    ClipController capture(pasteboard, testFiles());
    for (auto _ : state) {
        state.PauseTiming();
        const QString text = QStringLiteral("%1").arg(++g_serial, 100, 10, QLatin1Char('t'));
        pasteboard.setString(text);
        state.ResumeTiming();
        benchmark::DoNotOptimize(captureNow(capture));
    }
}
BENCHMARK(BM_CaptureText100Bytes)->Unit(benchmark::kMillisecond);

void BM_CaptureImage1MP(benchmark::State &state)
{
    MemoryPasteboard pasteboard;
    ClipController capture(pasteboard, testFiles());
    QImage image = photo(1152, 864, 7);
    for (auto _ : state) {
        state.PauseTiming();
        const qint64 serial = ++g_serial;
        image.setPixel(0, 0, qRgb(int(serial & 255), int((serial >> 8) & 255), 1));
        pasteboard.setImage(image);
        state.ResumeTiming();
        benchmark::DoNotOptimize(captureNow(capture));
    }
}
BENCHMARK(BM_CaptureImage1MP)->Unit(benchmark::kMillisecond);

// A new 5.5 MiB file of incompressible bytes for each iteration.
QString newFile()
{
    QRandomGenerator &random = g_random;
    QByteArray bytes(kFileSize, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    const QString path = g_files->filePath(QStringLiteral("file-%1.bin").arg(++g_serial));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

void BM_CaptureFile5_5MiB(benchmark::State &state)
{
    MemoryPasteboard pasteboard;
    ClipController capture(pasteboard, testFiles());
    for (auto _ : state) {
        state.PauseTiming();
        pasteboard.setFilePaths({newFile()});
        state.ResumeTiming();
        benchmark::DoNotOptimize(captureNow(capture));
    }
}
BENCHMARK(BM_CaptureFile5_5MiB)->Unit(benchmark::kMillisecond);

// The floor of a file capture: hash, copy and one deflated archive of the same bytes.
void BM_FileFloorMd5CopyDeflate(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = newFile();
        state.ResumeTiming();
        const QString hash = md5_hex_of_file(path);
        QFile::copy(path, path + QStringLiteral(".copy"));
        benchmark::DoNotOptimize(
            ZipWriter::writeSingleEntryFromFile(path + QStringLiteral(".zip"), hash, path));
    }
}
BENCHMARK(BM_FileFloorMd5CopyDeflate)->Unit(benchmark::kMillisecond);

// A PNG of about 5.5 MiB, copied by value: xclip owns the clipboard and offers image/png; the
// time runs from the capture's first look at the clipboard to the stored row, transfer included.
void BM_CapturePngByValueX11(benchmark::State &state)
{
    int width = 1920;
    int height = 1080;
    QByteArray bytes;
    for (int round = 0; round < 3; ++round) {
        bytes = imageBytes(photo(width, height, 1));
        const double scale = std::sqrt(double(kFileSize) / double(bytes.size()));
        width = int(width * scale);
        height = int(height * scale);
    }
    state.counters["png_MiB"] = double(bytes.size()) / (1024.0 * 1024.0);
    state.counters["pixels_M"] = double(width) * height / 1e6;

    X11Pasteboard pasteboard;
    ClipController capture(pasteboard, testFiles());
    ClipboardPrograms xclip;
    quint32 seed = 100;
    for (auto _ : state) {
        state.PauseTiming();
        const QByteArray next = imageBytes(photo(width, height, ++seed));
        const qint64 before = pasteboard.changeCount();
        xclip.copy(next, QStringLiteral("image/png"));
        if (!QTest::qWaitFor([&] { return pasteboard.changeCount() != before; }, 20000)) {
            state.SkipWithError("xclip did not take the clipboard");
            break;
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(captureNow(capture));
    }
}
BENCHMARK(BM_CapturePngByValueX11)->Unit(benchmark::kMillisecond)->Iterations(8);

} // namespace

int main(int argc, char *argv[])
{
    XvfbServer xvfb;
    if (!xvfb.start()) {
        std::fprintf(stderr, "cannot start Xvfb; install it with scripts/install-deps.sh\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    TestDirs dirs;
    QTemporaryDir files;
    g_files = &files;
    QGuiApplication app(argc, argv);
    fillHistory();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
