#pragma once

#include "brumlis/linuxaudio/soundinput.h"

#include <QMetaObject>
#include <QString>

namespace brumlis::test {

/// A sound server in memory: it answers as told and hands the test's samples to the capture
/// callback on the test's own thread.
class FakeConnection final : public SoundInput {
public:
    enum class Opening { Ready, Unavailable };

    explicit FakeConnection(Opening opening = Opening::Ready,
                            QList<InputSource> inputs = {{"mic", QStringLiteral("Mikrofon"),
                                                          false}})
        : m_opening(opening)
        , m_inputs(std::move(inputs)) {}

    void open() override {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_opening == Opening::Unavailable) {
                    Q_EMIT unavailable(QStringLiteral("Connection refused"));
                    return;
                }
                Q_EMIT ready();
                Q_EMIT sourcesChanged();
            },
            Qt::QueuedConnection);
    }
    QList<InputSource> sources() const override {
        return m_opening == Opening::Ready ? m_inputs : QList<InputSource>();
    }
    QByteArray defaultSource() const override {
        return m_inputs.isEmpty() ? QByteArray() : m_inputs.front().name;
    }
    void startCapture(const QByteArray& source, CaptureCallback callback) override {
        capturing = source;
        m_callback = std::move(callback);
    }
    void stopCapture() override { m_callback = {}; }

    /// Hands `samples` to the recorder in pieces of 20 ms, as the real server does.
    void feed(const std::vector<float>& samples) {
        for (std::size_t at = 0; at < samples.size() && m_callback; at += 960)
            m_callback(samples.data() + at, std::min<std::size_t>(960, samples.size() - at));
    }

    QByteArray capturing;

private:
    Opening m_opening;
    QList<InputSource> m_inputs;
    CaptureCallback m_callback;
};

} // namespace brumlis::test
