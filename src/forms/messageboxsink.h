#pragma once

#include "brumlis/sentence/messagesink.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace brumlis {

/// Shows each message in a modal message box captioned "Brumlis", with only an OK
/// button and no icon, and returns once the user has dismissed it.
class MessageBoxSink final : public MessageSink {
public:
    explicit MessageBoxSink(QWidget* parent = nullptr)
        : m_parent(parent) {}
    void show(const std::u16string& message) override;

    /// The window is going away: the open box is closed, and no other opens.
    void abort();

private:
    QPointer<QWidget> m_parent;
    QPointer<QMessageBox> m_open;
    bool m_aborted = false;
};

} // namespace brumlis
