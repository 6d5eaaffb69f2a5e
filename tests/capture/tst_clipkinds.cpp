// Clip kinds: type names and display names, the text abstract, the image thumbnail and the
// TIFF payload of image clips.
#include "CaptureTestSupport.h"
#include "ClipboardPrograms.h"
#include "capture/ClipImage.h"
#include "capture/ClipKinds.h"
#include "store/ClipFamily.h"

#include <QColorSpace>
#include <QtTest>

using namespace CaptureTest;

namespace {

// Whether a little-endian TIFF (as written on this machine) holds this one-value SHORT tag:
// tag, type 3, count 1, value, as a directory entry stores it.
bool hasTiffTag(const QByteArray &tiff, quint16 tag, quint16 value)
{
    const char entry[] = {char(tag & 0xff),   char(tag >> 8),  3, 0, 1, 0, 0, 0,
                          char(value & 0xff), char(value >> 8)};
    return tiff.startsWith("II*") && tiff.contains(QByteArrayView(entry, sizeof entry));
}

} // namespace

class TestClipKinds final : public QObject
{
    Q_OBJECT

private slots:
    void textTypesByLengthAndPrefix()
    {
        const QString url = QStringLiteral("http://example.org/");
        QCOMPARE(Utils::typeFromString(QString(4096, QLatin1Char('a'))), QStringLiteral("text_txt"));
        QCOMPARE(Utils::typeFromString(QString(4097, QLatin1Char('a'))), QStringLiteral("text_large"));
        QCOMPARE(Utils::typeFromString(url + QString(4096 - url.size(), QLatin1Char('a'))),
                 QStringLiteral("text_url_http"));
        QCOMPARE(Utils::typeFromString(url + QString(4097 - url.size(), QLatin1Char('a'))),
                 QStringLiteral("text_large"));
        QCOMPARE(Utils::typeFromString(QStringLiteral("https://a")), QStringLiteral("text_url_http"));
        QCOMPARE(Utils::typeFromString(QStringLiteral("HTTP://a")), QStringLiteral("text_txt"));
        // Length counts UTF-16 code units: 2049 characters outside the BMP are 4098 units.
        QString wide;
        for (int i = 0; i < 2049; ++i)
            wide += QString::fromUcs4(U"😀", 1);
        QCOMPARE(Utils::typeFromString(wide), QStringLiteral("text_large"));
    }

    void namesAndComponentsOfTypes()
    {
        QCOMPARE(Utils::nameOfCategory(QStringLiteral("image_data+zip")), QStringLiteral("图片内容"));
        QCOMPARE(Utils::nameOfCategory(std::nullopt), QStringLiteral("未知分类"));
        QCOMPARE(Utils::contentTypeList(QStringLiteral("text_url_http")),
                 QStringList({QStringLiteral("text"), QStringLiteral("url"), QStringLiteral("http")}));
        QCOMPARE(Utils::externTypeList(QStringLiteral("image_data+zip")), QStringList{QStringLiteral("zip")});
        // No extras is an empty list; no type is nothing.
        const std::optional<QStringList> none = Utils::externTypeList(QStringLiteral("text_txt"));
        QVERIFY(none && none->isEmpty());
        QVERIFY(!Utils::externTypeList(std::nullopt));
        QCOMPARE(clipFamilyOfType(QStringLiteral("file_JPG+zip")), ClipFamily::File);
        QCOMPARE(clipFamilyOfType(QStringLiteral("image_data+zip")), ClipFamily::Image);
        QCOMPARE(clipFamilyOfType(QStringLiteral("video_mp4")), ClipFamily::Other);
    }

    void fileExtensions()
    {
        QCOMPARE(fileExtension(QStringLiteral("/tmp/photo.JPG")), QStringLiteral("JPG"));
        QCOMPARE(fileExtension(QStringLiteral("/tmp/a.tar.gz")), QStringLiteral("gz"));
        QCOMPARE(fileExtension(QStringLiteral("/tmp/README")), QStringLiteral("unknow"));
        QCOMPARE(fileExtension(QStringLiteral("/tmp/.bashrc")), QStringLiteral("unknow"));
        QCOMPARE(fileExtension(QStringLiteral("/tmp/v1.0/notes")), QStringLiteral("unknow"));
    }

    void textAbstracts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("abstract");
        QTest::newRow("lines joined, spaces collapsed")
            << QStringLiteral("a\n  b\nc") << QStringLiteral("a bc");
        QTest::newRow("every terminator")
            << QStringLiteral("a\r\nb\rc\u0085d\u2028e\u2029f") << QStringLiteral("abcdef");
        QTest::newRow("tabs stay") << QStringLiteral("a\t\tb") << QStringLiteral("a\t\tb");
        QTest::newRow("edge runs stay as one space") << QStringLiteral("   a   ") << QStringLiteral(" a ");
        QTest::newRow("space runs end with their line") << QStringLiteral("a \n b") << QStringLiteral("a  b");
        QTest::newRow("long line") << QString(100, QLatin1Char('x')) << QString(30, QLatin1Char('x'));
        QTest::newRow("exactly thirty") << QString(30, QLatin1Char('y')) << QString(30, QLatin1Char('y'));
        QTest::newRow("no cut inside a surrogate pair")
            << QString(29, QLatin1Char('z')) + QString::fromUcs4(U"😀", 1) << QString(29, QLatin1Char('z'));
    }

    void textAbstracts()
    {
        QFETCH(QString, text);
        QFETCH(QString, abstract);
        QCOMPARE(textAbstract(text), abstract);
    }

    void thumbnailSizes_data()
    {
        QTest::addColumn<QSize>("image");
        QTest::addColumn<QSize>("thumbnail");
        QTest::newRow("wide") << QSize(1000, 100) << QSize(120, 12);
        QTest::newRow("panorama") << QSize(200, 50) << QSize(120, 30);
        QTest::newRow("tall, both truncated") << QSize(100, 1000) << QSize(3, 39);
        QTest::newRow("tiny") << QSize(1, 1) << QSize(40, 40);
        QTest::newRow("needle keeps a pixel") << QSize(1, 2000) << QSize(1, 39);
    }

    void thumbnailSizes()
    {
        QFETCH(QSize, image);
        QFETCH(QSize, thumbnail);
        const QImage source = gradientImage(image.width(), image.height());
        QCOMPARE(thumbnailSize(imageThumbnail(source)), thumbnail);
        // The stored payload gives the same thumbnail.
        QCOMPARE(thumbnailSize(imageThumbnail(clipTiffData(source))), thumbnail);
        QVERIFY(imageThumbnail(QImage()).isEmpty());
        QVERIFY(imageThumbnail(QByteArray("not an image")).isEmpty());
    }

    // A clip written back to the clipboard is offered as this TIFF and as PNG; reading either
    // back gives the same TIFF bytes, so the clip keeps its hash.
    void tiffIsLzwAndSurvivesTheClipboardRoundTrip()
    {
        for (const bool translucent : {false, true}) {
            const QImage image = gradientImage(64, 48, translucent);
            const QByteArray tiff = clipTiffData(image);
            QCOMPARE(Utils::typeFromImageData(tiff), QStringLiteral("tiff"));
            QVERIFY(hasTiffTag(tiff, 259, 5)); // Compression: LZW
            QVERIFY(hasTiffTag(tiff, 277, translucent ? 4 : 3)); // Samples per pixel
            const QImage fromTiff = QImage::fromData(tiff, "TIFF");
            QVERIFY(samePixels(fromTiff, image));
            QCOMPARE(clipTiffData(fromTiff), tiff);
            QCOMPARE(clipTiffData(QImage::fromData(imageBytes(fromTiff), "PNG")), tiff);
            QCOMPARE(clipTiffData(QImage::fromData(tiff)), tiff);
        }
        QVERIFY(clipTiffData(QImage()).isEmpty());
    }

    // The TIFF bytes are the clip's identity: they may depend on the pixels only, never on
    // the layout or the metadata that a decoder happened to produce.
    void tiffDependsOnPixelsOnly()
    {
        const QImage image = gradientImage(50, 30);
        const QByteArray reference = clipTiffData(image);

        QImage described = image;
        described.setDotsPerMeterX(5000);
        described.setDotsPerMeterY(1234);
        described.setColorSpace(QColorSpace::DisplayP3);
        described.setText(QStringLiteral("Description"), QStringLiteral("screenshot"));
        QCOMPARE(clipTiffData(described), reference);
        for (const QImage::Format format : {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
                                            QImage::Format_RGB888, QImage::Format_RGBA8888})
            QCOMPARE(clipTiffData(image.convertToFormat(format)), reference);
        QVERIFY(clipTiffData(gradientImage(50, 30, true)) != reference);
    }
};

QTEST_GUILESS_MAIN(TestClipKinds)
#include "tst_clipkinds.moc"
