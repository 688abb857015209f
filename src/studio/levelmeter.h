#pragma once

#include <QWidget>

namespace brumlis {

/// A level meter for the input: RMS as a bar, peak as a line, in dBFS from -60 to 0, and a
/// latch that lights at the first clipped sample and stays lit until it is clicked or
/// reset, so a clip too short to see is still noticed.
class LevelMeter final : public QWidget {
    Q_OBJECT

public:
    static constexpr double FloorDbfs = -60.0;

    explicit LevelMeter(QWidget* parent = nullptr);

    void setLevel(float peak, float rms, bool clipped);
    void resetClip();
    bool clipLatched() const { return m_clipLatched; }

    QSize sizeHint() const override { return {320, 22}; }
    QSize minimumSizeHint() const override { return {120, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    double m_peakDbfs = FloorDbfs;
    double m_rmsDbfs = FloorDbfs;
    bool m_clipLatched = false;
};

} // namespace brumlis
