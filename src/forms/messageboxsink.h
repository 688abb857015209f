#pragma once

#include "sentence/messagesink.h"

#include <QPointer>
#include <QWidget>

namespace brumlis {

/// Shows each message in a modal message box captioned "Brumlis", with only an OK
/// button and no icon, and returns once the user has dismissed it.
class MessageBoxSink final : public MessageSink {
public:
    explicit MessageBoxSink(QWidget* parent = nullptr)
        : m_parent(parent) {}
    void show(const QString& message) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace brumlis
