#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>

class QWidget;

namespace brumlis {

/// The light pink shared by both windows, their labels and the pictures' backgrounds.
inline constexpr QRgb WindowColour = qRgb(250, 200, 250);

/// Verdana at `points`, falling back to DejaVu Sans where Verdana is not installed.
QFont verdana(qreal points, bool bold);

/// Paints `widget` opaque in the window colour; child widgets inherit it.
void paintPink(QWidget* widget);

/// One icon for the program and both windows: the 16 x 16 picture plus larger sizes of
/// it for the desktop.
QIcon brumlisIcon();

/// A picture bundled with the windows, by file name ("banner.bmp", "portrait.bmp").
QPixmap bundledPicture(const QString& name);

} // namespace brumlis
