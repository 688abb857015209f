#include "looks.h"

#include <QFile>
#include <QImage>
#include <QPalette>
#include <QWidget>
#include <QtEndian>
#include <cstring>

// The resources live in a static library, so they have to be registered by hand.
static void initFormsResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(forms);
        return true;
    }();
    (void)done;
}

namespace {

// The bundled pictures are 8-bit Windows bitmaps, as the original program's were. Read here
// rather than through QImageReader, which loads every image-format plugin on the machine
// to ask whether it knows the format: a cost at start-up for three fixed pictures. Anything
// but an uncompressed 8-bit bitmap gives a null image (the reader then has its turn).
QImage readBitmap(const QString& resource) {
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    constexpr qsizetype FileHeader = 14, InfoHeader = 40;
    if (bytes.size() < FileHeader + InfoHeader || bytes.left(2) != "BM")
        return {};
    const quint32 pixelsAt = qFromLittleEndian<quint32>(data + 10);
    const quint32 headerSize = qFromLittleEndian<quint32>(data + 14);
    const qint32 width = qFromLittleEndian<qint32>(data + 18);
    const qint32 height = qFromLittleEndian<qint32>(data + 22);
    const quint16 bits = qFromLittleEndian<quint16>(data + 28);
    const quint32 compression = qFromLittleEndian<quint32>(data + 30);
    quint32 colours = qFromLittleEndian<quint32>(data + 46);
    if (colours == 0)
        colours = 256;
    const qsizetype stride = (qsizetype(width) + 3) & ~qsizetype(3);
    const qsizetype palette = FileHeader + qsizetype(headerSize);
    if (headerSize < InfoHeader || bits != 8 || compression != 0 || width <= 0 || height <= 0 ||
        width > 4096 || height > 4096 || colours > 256 ||
        palette + 4 * qsizetype(colours) > qsizetype(pixelsAt) ||
        qsizetype(pixelsAt) + stride * height > bytes.size())
        return {};
    QImage image(width, height, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (quint32 c = 0; c < colours; ++c) {
        const uchar* bgr = data + palette + 4 * c;
        table.push_back(qRgb(bgr[2], bgr[1], bgr[0]));
    }
    image.setColorTable(table);
    for (int y = 0; y < height; ++y) // bottom row first
        std::memcpy(image.scanLine(height - 1 - y), data + pixelsAt + stride * y,
                    std::size_t(width));
    return image;
}

QPixmap bitmapPixmap(const QString& resource) {
    const QImage image = readBitmap(resource);
    return image.isNull() ? QPixmap(resource) : QPixmap::fromImage(image);
}

} // namespace

namespace brumlis {

QFont verdana(qreal points, bool bold) {
    QFont font(QStringLiteral("Verdana"));
    font.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(points);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

void paintPink(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor(WindowColour));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QIcon brumlisIcon() {
    initFormsResources();
    // The program's own 16 × 16 icon, as the original had it. Menus, launchers, taskbars
    // and window switchers take larger sizes from the icons installed with the desktop
    // entry; a window that carried them itself would hand the X server a quarter of a
    // megabyte of 256-pixel icon as it starts.
    return QIcon(bitmapPixmap(QStringLiteral(":/brumlis/icon16.bmp")));
}

QPixmap bundledPicture(const QString& name) {
    initFormsResources();
    return bitmapPixmap(QStringLiteral(":/brumlis/") + name);
}

} // namespace brumlis
