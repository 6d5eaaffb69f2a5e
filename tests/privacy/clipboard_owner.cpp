// Test helper: owns the X11 clipboard with a text, offered as text/plain together with
// x-kde-passwordManagerHint set to HINT, as a password manager copies a password. Prints
// "ready" once it owns the clipboard and keeps it until it is ended or another program takes
// the clipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments(); // clipboard_owner TEXT HINT
    auto *data = new QMimeData;
    data->setText(args.value(1));
    data->setData(QStringLiteral("x-kde-passwordManagerHint"), args.value(2).toUtf8());

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
