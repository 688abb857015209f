#include "cutview.h"

#include "brumlis/audio/decibels.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace brumlis {

CutView::CutView(QWidget* parent)
    : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CutView::setTake(std::vector<float> outline, std::int64_t frames, TrimPoints cut) {
    if (outline == m_outline && frames == m_frames && cut == m_cut)
        return;
    m_outline = std::move(outline);
    m_frames = frames;
    m_cut = cut;
    update();
}

void CutView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    if (m_outline.empty() || m_frames <= 0 || width() <= 0)
        return;
    const int w = width();
    const int middle = height() / 2;
    const auto xOf = [&](std::int64_t frame) { return int(frame * w / m_frames); };
    const int cutLeft = xOf(m_cut.start);
    const int cutRight = xOf(m_cut.end);
    const QColor kept = palette().color(QPalette::Highlight);
    const QColor dropped = palette().color(QPalette::Mid);
    const auto points = std::int64_t(m_outline.size());
    // Levels in dB, as the meter shows them: a quiet last consonant is still seen.
    for (int x = 0; x < w; ++x) {
        const std::int64_t from = x * points / w;
        const std::int64_t to = std::max(from + 1, (x + 1) * points / w);
        const float peak =
            *std::max_element(m_outline.begin() + from, m_outline.begin() + std::min(to, points));
        const double db = amplitudeToDb(peak, FloorDbfs);
        const double share = std::clamp((db - FloorDbfs) / -FloorDbfs, 0.0, 1.0);
        const int half = std::max(1, int(std::lround(share * (middle - 1))));
        painter.fillRect(x, middle - half, 1, 2 * half,
                         x >= cutLeft && x < cutRight ? kept : dropped);
    }
    painter.fillRect(std::min(cutLeft, w - 1), 0, 1, height(), palette().text());
    painter.fillRect(std::clamp(cutRight - 1, 0, w - 1), 0, 1, height(), palette().text());
}

} // namespace brumlis
