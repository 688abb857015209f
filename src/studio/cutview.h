#pragma once

#include "brumlis/voicetools/taketrim.h"

#include <QWidget>
#include <cstdint>
#include <vector>

namespace brumlis {

/// A small picture of a raw take: its level over time, bright where it is kept and dim
/// where it is cut off, with a line at each end of the cut. Only a picture: the cut is
/// moved with keys and buttons, and said in words beside it.
class CutView final : public QWidget {
    Q_OBJECT

public:
    static constexpr double FloorDbfs = -60.0;

    explicit CutView(QWidget* parent = nullptr);

    /// A take `frames` long, drawn from its `outline` (peaks of equal stretches of it), cut
    /// at `cut`. An empty outline draws nothing.
    void setTake(std::vector<float> outline, std::int64_t frames, TrimPoints cut);

    QSize sizeHint() const override { return {320, 36}; }
    QSize minimumSizeHint() const override { return {120, 24}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<float> m_outline;
    std::int64_t m_frames = 0;
    TrimPoints m_cut;
};

} // namespace brumlis
