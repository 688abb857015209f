#pragma once

#include "brumlis/studio/studiosession.h"

#include <QIcon>
#include <QPointer>
#include <QWidget>
#include <memory>

namespace brumlis {

/// The studio's icon, in every size it is drawn in.
QIcon studioIcon();

/// Asks in a modal message box over `parent`, "nej" being the default.
class MessageBoxQuestions final : public StudioQuestions {
public:
    explicit MessageBoxQuestions(QWidget* parent)
        : m_parent(parent) {}
    Answer ask(const QString& question, bool offerAll) override;

private:
    QPointer<QWidget> m_parent;
};

/// brumlis-studio's window over a StudioSession: panels that show the words, the input and
/// the takes, and keys for everything the session can do.
class StudioWindow final : public QWidget {
    Q_OBJECT

public:
    /// The session's parts: see StudioSession. Without `questions`, message boxes ask.
    StudioWindow(std::unique_ptr<SoundInput> server, QString dataDir,
                 std::unique_ptr<StudioQuestions> questions = {},
                 std::unique_ptr<SoundPlayer> player = {}, QWidget* parent = nullptr);
    ~StudioWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<StudioSession> m_session;
};

} // namespace brumlis
