// Test helper: owns the X11 clipboard with a text, offered as text/plain together with
// x-kde-passwordManagerHint when --hint VALUE is given, as a password manager copies a
// password. Prints "ready" once it owns the clipboard and keeps it until it is killed or
// another program takes the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype textAt = args.indexOf(QStringLiteral("--text"));
    if (textAt < 0 || textAt + 1 >= args.size()) {
        QTextStream(stderr) << "usage: clipboard_owner --text TEXT [--hint VALUE]\n";
        return 2;
    }
    auto *data = new QMimeData;
    data->setText(args.at(textAt + 1));
    const qsizetype hintAt = args.indexOf(QStringLiteral("--hint"));
    if (hintAt >= 0 && hintAt + 1 < args.size())
        data->setData(QStringLiteral("x-kde-passwordManagerHint"), args.at(hintAt + 1).toUtf8());

    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(data, QClipboard::Clipboard);
    if (!clipboard->ownsClipboard()) {
        QTextStream(stderr) << "could not take the clipboard\n";
        return 1;
    }
    QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard] {
        if (!clipboard->ownsClipboard())
            QGuiApplication::quit();
    });
    QTextStream(stdout) << "ready\n" << Qt::flush;
    return app.exec();
}
