// Clip kinds: type names and display names, the text abstract, the image thumbnail and the
// TIFF payload of image clips.
#include "CaptureTestSupport.h"
#include "app/ClipImage.h"
#include "app/ClipKinds.h"

#include <QBuffer>
#include <QColorSpace>
#include <QtEndian>
#include <QtTest>

namespace {

// The value of one tag of the first directory of a TIFF file; -1 when it is missing.
qint64 tiffTag(const QByteArray &tiff, quint16 wanted)
{
    if (tiff.size() < 8)
        return -1;
    const bool little = tiff.startsWith("II");
    const auto *data = reinterpret_cast<const uchar *>(tiff.constData());
    const auto u16 = [&](qsizetype at) { return little ? qFromLittleEndian<quint16>(data + at) : qFromBigEndian<quint16>(data + at); };
    const auto u32 = [&](qsizetype at) { return little ? qFromLittleEndian<quint32>(data + at) : qFromBigEndian<quint32>(data + at); };
    const qsizetype directory = u32(4);
    const int count = u16(directory);
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = directory + 2 + i * 12;
        if (u16(entry) == wanted)
            return u16(entry + 2) == 3 ? u16(entry + 8) : u32(entry + 8);
    }
    return -1;
}

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QSize thumbnailSize(const QString &base64)
{
    return QImage::fromData(QByteArray::fromBase64(base64.toLatin1()), "JPEG").size();
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
        QCOMPARE(Utils::typeFromString(QStringLiteral("ftp://a")), QStringLiteral("text_txt"));
        QCOMPARE(Utils::typeFromString(QStringLiteral("mailto:a@b")), QStringLiteral("text_txt"));
        // Length counts UTF-16 code units: 2049 characters outside the BMP are 4098 units.
        QString wide;
        for (int i = 0; i < 2049; ++i)
            wide += QString::fromUcs4(U"😀", 1);
        QCOMPARE(Utils::typeFromString(wide), QStringLiteral("text_large"));
    }

    void namesAndComponentsOfTypes()
    {
        QCOMPARE(Utils::nameOfCategory(QStringLiteral("image_data+zip")), QStringLiteral("图片内容"));
        QCOMPARE(Utils::nameOfCategory(QStringLiteral("file_pdf+zip")), QStringLiteral("未知分类"));
        QCOMPARE(Utils::nameOfCategory(std::nullopt), QStringLiteral("未知分类"));
        QCOMPARE(Utils::contentTypeList(QStringLiteral("text_url_http")),
                 QStringList({QStringLiteral("text"), QStringLiteral("url"), QStringLiteral("http")}));
        QCOMPARE(Utils::externTypeList(QStringLiteral("image_data+zip")), QStringList{QStringLiteral("zip")});
        // No extras is an empty list; no type is nothing.
        const std::optional<QStringList> none = Utils::externTypeList(QStringLiteral("text_txt"));
        QVERIFY(none && none->isEmpty());
        QVERIFY(!Utils::externTypeList(std::nullopt));
        QVERIFY(isKnownClipFamily(QStringLiteral("file_JPG+zip")));
        QVERIFY(!isKnownClipFamily(QStringLiteral("video_mp4")));
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
        QTest::newRow("lines joined, spaces collapsed") << QStringLiteral("a\n  b\nc") << QStringLiteral("a bc");
        QTest::newRow("every terminator") << QStringLiteral("a\r\nb\rc\u0085d\u2028e\u2029f") << QStringLiteral("abcdef");
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
        QTest::newRow("landscape") << QSize(300, 200) << QSize(60, 40);
        QTest::newRow("panorama") << QSize(200, 50) << QSize(120, 30);
        QTest::newRow("tall, both truncated") << QSize(100, 1000) << QSize(3, 39);
        QTest::newRow("tiny") << QSize(1, 1) << QSize(40, 40);
        QTest::newRow("needle keeps a pixel") << QSize(1, 2000) << QSize(1, 39);
    }

    void thumbnailSizes()
    {
        QFETCH(QSize, image);
        QFETCH(QSize, thumbnail);
        const QImage source = CaptureTest::gradientImage(image.width(), image.height());
        QCOMPARE(thumbnailSize(imageThumbnail(source)), thumbnail);
        // The stored payload gives the same thumbnail.
        QCOMPARE(thumbnailSize(imageThumbnail(clipTiffData(source))), thumbnail);
        QVERIFY(imageThumbnail(QImage()).isEmpty());
        QVERIFY(imageThumbnail(QByteArray("not an image")).isEmpty());
    }

    void tiffIsLzwAndKeepsThePixels()
    {
        for (const bool translucent : {false, true}) {
            const QImage image = CaptureTest::gradientImage(64, 48, translucent);
            const QByteArray tiff = clipTiffData(image);
            QCOMPARE(Utils::typeFromImageData(tiff), QStringLiteral("tiff"));
            QCOMPARE(tiffTag(tiff, 259), 5); // Compression: LZW
            QCOMPARE(tiffTag(tiff, 277), translucent ? 4 : 3); // Samples per pixel
            QVERIFY(CaptureTest::samePixels(QImage::fromData(tiff, "TIFF"), image));
        }
        QVERIFY(clipTiffData(QImage()).isEmpty());
    }

    // The TIFF bytes are the clip's identity: they may depend on the pixels only, never on
    // the layout or the metadata that a decoder happened to produce.
    void tiffDependsOnPixelsOnly()
    {
        const QImage image = CaptureTest::gradientImage(50, 30);
        const QByteArray reference = clipTiffData(image);

        QImage described = image;
        described.setDotsPerMeterX(5000);
        described.setDotsPerMeterY(1234);
        described.setColorSpace(QColorSpace::DisplayP3);
        described.setText(QStringLiteral("Description"), QStringLiteral("screenshot"));
        QCOMPARE(clipTiffData(described), reference);
        QCOMPARE(clipTiffData(image.convertToFormat(QImage::Format_ARGB32)), reference);
        QCOMPARE(clipTiffData(image.convertToFormat(QImage::Format_ARGB32_Premultiplied)), reference);
        QCOMPARE(clipTiffData(image.convertToFormat(QImage::Format_RGB888)), reference);
        QCOMPARE(clipTiffData(image.convertToFormat(QImage::Format_RGBA8888)), reference);
        QVERIFY(clipTiffData(CaptureTest::gradientImage(50, 30, true)) != reference);
    }

    // A clip written back to the clipboard is offered as this TIFF and as PNG; reading either
    // back gives the same TIFF bytes, so the clip keeps its hash.
    void tiffSurvivesTheClipboardRoundTrip()
    {
        for (const bool translucent : {false, true}) {
            const QByteArray tiff = clipTiffData(CaptureTest::gradientImage(70, 20, translucent));
            const QImage fromTiff = QImage::fromData(tiff, "TIFF");
            QCOMPARE(clipTiffData(fromTiff), tiff);
            QCOMPARE(clipTiffData(QImage::fromData(png(fromTiff), "PNG")), tiff);
            QCOMPARE(clipTiffData(QImage::fromData(tiff)), tiff);
        }
    }
};

QTEST_GUILESS_MAIN(TestClipKinds)
#include "tst_clipkinds.moc"
