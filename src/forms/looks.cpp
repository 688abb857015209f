#include "looks.h"

#include <QPalette>
#include <QWidget>

// The resources live in a static library, so they have to be registered by hand.
static void initFormsResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(forms);
        return true;
    }();
    (void)done;
}

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
    QIcon icon(QStringLiteral(":/brumlis/icon16.bmp"));
    for (int size : {24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/brumlis/icons/hicolor/%1x%1/apps/brumlis.png").arg(size));
    return icon;
}

QPixmap bundledPicture(const QString& name) {
    initFormsResources();
    return QPixmap(QStringLiteral(":/brumlis/") + name);
}

} // namespace brumlis
