// The store in a process of its own, for tests that kill it midway or start it on a prepared
// data folder ($QUILLET_DATA_DIR).
//   store_process upgrade DATABASE STEP
//       brings the schema of DATABASE up to date, stopping after STEP (printing "stopped")
//       until the process is killed
//   store_process start TEXT...
//       opens the store, copies each TEXT to an in-memory clipboard and captures it, then
//       prints "state=N rows=N alerts=N" and each message for the user on a line of its own
#include "../support/CaptureWait.h"
#include "platform/MemoryPasteboard.h"
#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryDatabase.h"
#include "store/HistorySchema.h"

#include <QTextStream>

#include <unistd.h>

namespace {

int upgrade(const QString &path, const QByteArray &stopAt)
{
    Database db(path);
    const bool ready = HistorySchema::setUp(db, [&](const char *step) {
        if (stopAt != step)
            return;
        QTextStream(stdout) << "stopped" << Qt::endl;
        for (;;)
            pause();
    });
    return ready ? 0 : 1;
}

int start(const QStringList &texts)
{
    const HistoryDatabase::State state = HistoryDatabase::prepare();
    const QStringList alerts = HistoryDatabase::alerts();
    MemoryPasteboard clipboard;
    ClipFileManager files;
    ClipController capture(clipboard, files);
    for (const QString &text : texts) {
        clipboard.setString(text);
        captureNow(capture);
    }
    QTextStream out(stdout);
    out << "state=" << int(state) << " rows=" << DBKeeper::getAllHistory().size()
        << " alerts=" << alerts.size() << '\n';
    for (const QString &alert : alerts)
        out << alert << '\n';
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 3 && args[0] == QLatin1String("upgrade"))
        return upgrade(args[1], args[2].toUtf8());
    if (!args.isEmpty() && args[0] == QLatin1String("start"))
        return start(args.mid(1));
    return 2; // usage: see above
}
