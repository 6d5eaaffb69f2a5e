// Test helper: owns the X11 clipboard with a text, offered as text/plain together with
// x-kde-passwordManagerHint when a HINT value is given, as a password manager copies a
// password. Prints "ready" once it owns the clipboard and keeps it until it is ended or
// another program takes the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        QTextStream(stderr) << "usage: clipboard_owner TEXT [HINT]\n";
        return 2;
    }
    auto *data = new QMimeData;
    data->setText(args.at(1));
    if (args.size() == 3)
        data->setData(QStringLiteral("x-kde-passwordManagerHint"), args.at(2).toUtf8());

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
