// make-guide SOURCE.md OUTPUT.pdf: renders the plugin guide from its Markdown source to a PDF.
// Run at build time with the offscreen platform; needs Qt Gui only.

#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (args.size() != 3) {
        err << "usage: make-guide SOURCE.md OUTPUT.pdf\n";
        return 2;
    }
    QFile source(args.at(1));
    if (!source.open(QIODevice::ReadOnly)) {
        err << "make-guide: cannot read " << args.at(1) << '\n';
        return 1;
    }
    QTextDocument document;
    // Latin text in a sans face; the Chinese button names fall back to the CJK font.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10);
    document.setDefaultFont(font);
    document.setMarkdown(QString::fromUtf8(source.readAll()));

    QPdfWriter writer(args.at(2));
    writer.setTitle(QStringLiteral("Quillet plugins: getting started"));
    writer.setCreator(QStringLiteral("Quillet"));
    writer.setPageSize(QPageSize(QPageSize::A4));
    // QTextDocument::print adds margins of its own (2 cm) around the text.
    writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    writer.setResolution(300);
    document.print(&writer);
    QFile written(args.at(2));
    if (!written.exists() || written.size() == 0) {
        err << "make-guide: nothing written to " << args.at(2) << '\n';
        return 1;
    }
    return 0;
}
