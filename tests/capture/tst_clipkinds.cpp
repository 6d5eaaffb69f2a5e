// Clip kinds: type names and their parts, the text abstract, the image thumbnail and the
// TIFF payload of image clips.
#include "CaptureTestSupport.h"
#include "ClipboardPrograms.h"
#include "capture/ClipImage.h"
#include "capture/ClipKinds.h"
#include "store/ClipFamily.h"

#include <QColorSpace>
#include <QtTest>

using namespace Qt::StringLiterals;

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
        const QString url = u"http://example.org/"_s;
        QCOMPARE(ClipKinds::typeFromString(QString(4096, QLatin1Char('a'))), u"text_txt"_s);
        QCOMPARE(ClipKinds::typeFromString(QString(4097, QLatin1Char('a'))), u"text_large"_s);
        QCOMPARE(ClipKinds::typeFromString(url + QString(4096 - url.size(), QLatin1Char('a'))),
                 u"text_url_http"_s);
        QCOMPARE(ClipKinds::typeFromString(url + QString(4097 - url.size(), QLatin1Char('a'))),
                 u"text_large"_s);
        QCOMPARE(ClipKinds::typeFromString(u"https://a"_s), u"text_url_http"_s);
        QCOMPARE(ClipKinds::typeFromString(u"HTTP://a"_s), u"text_txt"_s);
        // Length counts UTF-16 code units: 2049 characters outside the BMP are 4098 units.
        QString wide;
        for (int i = 0; i < 2049; ++i)
            wide += QString::fromUcs4(U"😀", 1);
        QCOMPARE(ClipKinds::typeFromString(wide), u"text_large"_s);
    }

    void namesAndComponentsOfTypes()
    {
        QCOMPARE(ClipKinds::contentTypeList(u"text_url_http"_s),
                 QStringList({u"text"_s, u"url"_s, u"http"_s}));
        QCOMPARE(ClipKinds::externTypeList(u"image_data+zip"_s), QStringList{u"zip"_s});
        // No extras is an empty list; no type is nothing.
        const std::optional<QStringList> none = ClipKinds::externTypeList(u"text_txt"_s);
        QVERIFY(none && none->isEmpty());
        QVERIFY(!ClipKinds::externTypeList(std::nullopt));
        QCOMPARE(clipFamilyOfType(u"file_JPG+zip"_s), ClipFamily::File);
        QCOMPARE(clipFamilyOfType(u"image_data+zip"_s), ClipFamily::Image);
        QCOMPARE(clipFamilyOfType(u"video_mp4"_s), ClipFamily::Other);
    }

    void fileExtensions()
    {
        QCOMPARE(ClipKinds::fileExtension(u"/tmp/photo.JPG"_s), u"JPG"_s);
        QCOMPARE(ClipKinds::fileExtension(u"/tmp/a.tar.gz"_s), u"gz"_s);
        QCOMPARE(ClipKinds::fileExtension(u"/tmp/README"_s), u"unknow"_s);
        QCOMPARE(ClipKinds::fileExtension(u"/tmp/.bashrc"_s), u"unknow"_s);
        QCOMPARE(ClipKinds::fileExtension(u"/tmp/v1.0/notes"_s), u"unknow"_s);
    }

    void textAbstracts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("abstract");
        QTest::newRow("lines joined, spaces collapsed") << u"a\n  b\nc"_s << u"a bc"_s;
        QTest::newRow("every terminator") << u"a\r\nb\rc\u0085d\u2028e\u2029f"_s << u"abcdef"_s;
        QTest::newRow("tabs stay") << u"a\t\tb"_s << u"a\t\tb"_s;
        QTest::newRow("edge runs stay as one space") << u"   a   "_s << u" a "_s;
        QTest::newRow("space runs end with their line") << u"a \n b"_s << u"a  b"_s;
        QTest::newRow("long line") << QString(100, QLatin1Char('x')) << QString(30, QLatin1Char('x'));
        QTest::newRow("exactly thirty") << QString(30, QLatin1Char('y')) << QString(30, QLatin1Char('y'));
        QTest::newRow("no cut inside a surrogate pair")
            << QString(29, QLatin1Char('z')) + QString::fromUcs4(U"😀", 1) << QString(29, QLatin1Char('z'));
    }

    void textAbstracts()
    {
        QFETCH(QString, text);
        QFETCH(QString, abstract);
        QCOMPARE(ClipKinds::textAbstract(text), abstract);
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
            QCOMPARE(ClipKinds::typeFromImageData(tiff), u"tiff"_s);
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
        described.setText(u"Description"_s, u"screenshot"_s);
        QCOMPARE(clipTiffData(described), reference);
        for (const QImage::Format format : {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
                                            QImage::Format_RGB888, QImage::Format_RGBA8888})
            QCOMPARE(clipTiffData(image.convertToFormat(format)), reference);
        QVERIFY(clipTiffData(gradientImage(50, 30, true)) != reference);
    }
};

QTEST_GUILESS_MAIN(TestClipKinds)
#include "tst_clipkinds.moc"
