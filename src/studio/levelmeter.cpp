#include "levelmeter.h"

#include "brumlis/audio/decibels.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace brumlis {

LevelMeter::LevelMeter(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LevelMeter::setLevel(float peak, float rms, bool clipped) {
    const double newPeak = amplitudeToDb(peak, FloorDbfs);
    const double newRms = amplitudeToDb(rms, FloorDbfs);
    const bool latch = m_clipLatched || clipped;
    // Readings of silence come as often as any other; they need no repaint.
    if (newPeak == m_peakDbfs && newRms == m_rmsDbfs && latch == m_clipLatched)
        return;
    if (latch != m_clipLatched)
        setAccessibleDescription(latch ? QStringLiteral("Överstyrd") : QString());
    m_peakDbfs = newPeak;
    m_rmsDbfs = newRms;
    m_clipLatched = latch;
    update();
}

void LevelMeter::resetClip() {
    if (!m_clipLatched)
        return;
    m_clipLatched = false;
    setAccessibleDescription({});
    update();
}

void LevelMeter::mousePressEvent(QMouseEvent* event) {
    resetClip();
    event->accept();
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect all = rect();
    const int latchWidth = height();
    const QRect bar = all.adjusted(0, 0, -latchWidth - 4, 0);
    const QRect latch(bar.right() + 4, 0, latchWidth, height());
    painter.fillRect(all, palette().window());
    painter.fillRect(bar, QColor(40, 40, 40));
    const auto x = [&](double db) {
        return bar.left() + int(std::lround((db - FloorDbfs) / -FloorDbfs * bar.width()));
    };
    // Green up to -12 dBFS, yellow to -3, red above: where speech should sit, and where not.
    const struct {
        double from, to;
        QColor colour;
    } zones[] = {{FloorDbfs, -12.0, QColor(60, 180, 75)},
                 {-12.0, -3.0, QColor(230, 200, 40)},
                 {-3.0, 0.0, QColor(220, 50, 40)}};
    for (const auto& zone : zones) {
        const double to = std::min(zone.to, m_rmsDbfs);
        if (to > zone.from)
            painter.fillRect(
                QRect(QPoint(x(zone.from), bar.top() + 3), QPoint(x(to), bar.bottom() - 3)),
                zone.colour);
    }
    painter.fillRect(QRect(x(m_peakDbfs) - 1, bar.top(), 2, bar.height()), Qt::white);
    painter.fillRect(latch, m_clipLatched ? QColor(220, 30, 30) : QColor(90, 40, 40));
}

} // namespace brumlis
