#include "looks.h"

#include <QFile>
#include <QImage>
#include <QSet>
#include <QtEndian>
#include <gtest/gtest.h>

namespace brumlis::test {
namespace {

struct BmpHeader {
    quint32 width, height, bitsPerPixel, compression, paletteEntries;
};

BmpHeader readBmpHeader(const QByteArray& bytes) {
    auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    auto u16 = [&](int at) { return quint32(qFromLittleEndian<quint16>(bytes.constData() + at)); };
    return {u32(18), u32(22), u16(28), u32(30), u32(46)};
}

TEST(Pictures, AreUncompressedEightBitPaletteBitmapsOfTheirSize) {
    struct Case {
        const char* file;
        quint32 width, height;
        int maxColours;
        bool onWindowColour;
    };
    const Case cases[] = {
        {"banner.bmp", 292, 40, 230, true},
        {"portrait.bmp", 107, 150, 256, true},
        {"icon16.bmp", 16, 16, 256, false},
    };
    for (const Case& c : cases) {
        bundledPicture(QString()); // registers the resources
        QFile file(QStringLiteral(":/brumlis/") + QLatin1String(c.file));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.file;
        const QByteArray bytes = file.readAll();
        ASSERT_GE(bytes.size(), 54) << c.file;
        EXPECT_EQ(bytes.left(2), QByteArray("BM")) << c.file;
        const BmpHeader h = readBmpHeader(bytes);
        EXPECT_EQ(h.width, c.width) << c.file;
        EXPECT_EQ(h.height, c.height) << c.file;
        EXPECT_EQ(h.bitsPerPixel, 8u) << c.file;
        EXPECT_EQ(h.compression, 0u) << c.file << " is compressed";
        EXPECT_LE(h.paletteEntries, 256u) << c.file;

        const QImage image = QImage::fromData(bytes, "BMP");
        ASSERT_FALSE(image.isNull()) << c.file;
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                colours.insert(image.pixel(x, y));
        EXPECT_LE(colours.size(), c.maxColours) << c.file;
        // The window's own reading of the picture gives what Qt's reader gives.
        const QImage shown = (QLatin1String(c.file) == QLatin1String("icon16.bmp")
                                  ? brumlisIcon().pixmap(16, 16)
                                  : bundledPicture(QLatin1String(c.file)))
                                 .toImage();
        EXPECT_EQ(shown.convertToFormat(QImage::Format_RGB32),
                  image.convertToFormat(QImage::Format_RGB32))
            << c.file;
        if (c.onWindowColour) {
            for (QPoint corner : {QPoint(0, 0), QPoint(image.width() - 1, image.height() - 1)})
                EXPECT_EQ(image.pixel(corner), WindowColour) << c.file;
        }
    }
}

TEST(Pictures, BannerHasPinkLettersWithBlackOutlines) {
    const QImage banner = bundledPicture(QStringLiteral("banner.bmp")).toImage();
    int pink = 0, black = 0;
    for (int y = 0; y < banner.height(); ++y) {
        for (int x = 0; x < banner.width(); ++x) {
            pink += banner.pixel(x, y) == qRgb(246, 162, 246);
            black += banner.pixel(x, y) == qRgb(0, 0, 0);
        }
    }
    EXPECT_GT(pink, 500);
    EXPECT_GT(black, 300);
}

TEST(Pictures, TheWindowsIconIsTheSixteenPixelOne) {
    // Larger sizes come from the installed icons (tests/install checks them).
    EXPECT_EQ(brumlisIcon().availableSizes(), QList<QSize>{QSize(16, 16)});
}

} // namespace
} // namespace brumlis::test
