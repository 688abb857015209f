#pragma once

#include "brumlis/studio/studiosession.h"

#include <QWidget>
#include <map>

class QLabel;
class QPushButton;

namespace brumlis {

/// The buttons of the session's actions, made from the window's table of keys.
using ActionButtons = std::map<StudioSession::Action, QPushButton*>;

/// A label that shows one of the session's texts as it changes. A screen reader reads the
/// text itself; `role` says what it is, as the label's description.
QLabel* sessionLabel(QWidget* parent, StudioSession& session, StudioSession::Text text,
                     const char* name, const QString& role, qreal scale = 1.0);

/// Each panel shows a part of the session and hands what the user does to it.

/// The words of the folder with their states, and how many are recorded.
class WordListPanel final : public QWidget {
    Q_OBJECT
public:
    WordListPanel(StudioSession& session, QWidget* parent);
};

/// The word to say, the words around it, its recording and a sentence with it.
class WordPanel final : public QWidget {
    Q_OBJECT
public:
    WordPanel(StudioSession& session, QWidget* parent);
};

/// The input, its meter, how takes start and whether they are played back, and the
/// record button.
class InputPanel final : public QWidget {
    Q_OBJECT
public:
    InputPanel(StudioSession& session, const ActionButtons& buttons, QWidget* parent);
};

/// The takes of the word, the chosen one's figures and cut, and what to do with it.
class TakesPanel final : public QWidget {
    Q_OBJECT
public:
    TakesPanel(StudioSession& session, const ActionButtons& buttons, QWidget* parent);
};

} // namespace brumlis
