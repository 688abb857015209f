#include "studiopanels.h"

#include "cutview.h"
#include "levelmeter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace brumlis {

namespace {

using Action = StudioSession::Action;
using Text = StudioSession::Text;

// A panel lays its widgets out as if they were the window's own: no margin of its own.
template <class Layout> Layout* bare(Layout* layout) {
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

} // namespace

QLabel* sessionLabel(QWidget* parent, StudioSession& session, Text text, const char* name,
                     const QString& role, qreal scale) {
    auto* label = new QLabel(session.text(text), parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    // An accessible name would be read instead of the text, which is what matters here.
    label->setAccessibleDescription(role);
    if (scale != 1.0) {
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * scale);
        label->setFont(font);
    }
    QObject::connect(&session, &StudioSession::textChanged, label,
                     [label, text](Text changed, const QString& now) {
                         if (changed == text)
                             label->setText(now);
                     });
    return label;
}

WordListPanel::WordListPanel(StudioSession& session, QWidget* parent)
    : QWidget(parent) {
    auto* list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("wordList"));
    list->setAccessibleName(QStringLiteral("Ord att spela in"));
    list->setColumnCount(2);
    list->setHeaderLabels({QStringLiteral("Ord"), QStringLiteral("Läge")});
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    list->header()->setStretchLastSection(false);
    const auto showCurrent = [list, &session] {
        if (QTreeWidgetItem* item = list->topLevelItem(session.queue().current())) {
            QSignalBlocker block(list);
            list->setCurrentItem(item);
            list->scrollToItem(item);
        }
    };
    connect(&session, &StudioSession::wordsChanged, list, [list, &session] {
        QSignalBlocker block(list);
        list->clear();
        QList<QTreeWidgetItem*> items;
        for (const WordQueue::Entry& entry : session.queue().entries()) {
            QString state = wordStateName(entry.state);
            if (entry.skipped)
                state += QStringLiteral(", överhoppad");
            items << new QTreeWidgetItem({entry.word.text, state});
        }
        list->addTopLevelItems(items);
        if (QTreeWidgetItem* item = list->topLevelItem(session.queue().current()))
            list->setCurrentItem(item);
    });
    connect(&session, &StudioSession::wordChanged, list, showCurrent);
    // Clicks and the arrow keys alike make the word under them the one to record.
    connect(list, &QTreeWidget::currentItemChanged, &session,
            [list, &session](QTreeWidgetItem* item) {
                session.chooseWord(list->indexOfTopLevelItem(item));
            });

    auto* column = bare(new QVBoxLayout(this));
    column->addWidget(list, 1);
    column->addWidget(sessionLabel(this, session, Text::Progress, "progressLabel",
                                   QStringLiteral("Inspelade ord")));
}

WordPanel::WordPanel(StudioSession& session, QWidget* parent)
    : QWidget(parent) {
    QLabel* previous = sessionLabel(this, session, Text::PreviousWord, "previousWord",
                                    QStringLiteral("Föregående ord"));
    QLabel* current = sessionLabel(this, session, Text::CurrentWord, "currentWord",
                                   QStringLiteral("Ord att säga"), 3.0);
    QLabel* next =
        sessionLabel(this, session, Text::NextWord, "nextWord", QStringLiteral("Nästa ord"));
    previous->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    next->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QLabel* label : {previous, next}) {
        label->setEnabled(false); // greyed: they are only there to show the way
        label->setWordWrap(true);
    }
    current->setWordWrap(true);
    current->setAlignment(Qt::AlignCenter);
    QFont bold = current->font();
    bold.setBold(true);
    current->setFont(bold);
    QLabel* state = sessionLabel(this, session, Text::WordState, "wordState",
                                 QStringLiteral("Ordets inspelning"));
    state->setAlignment(Qt::AlignCenter);
    QLabel* example = sessionLabel(this, session, Text::Example, "exampleSentence",
                                   QStringLiteral("Exempelmening"), 1.3);
    example->setAlignment(Qt::AlignCenter);
    example->setWordWrap(true);
    // Prova's words go on screen at the moment they are heard, not when the loop next paints.
    connect(&session, &StudioSession::textChanged, example, [example](Text changed) {
        if (changed == Text::Example)
            example->repaint();
    });

    auto* words = new QHBoxLayout;
    words->addWidget(previous, 1);
    words->addWidget(current, 3);
    words->addWidget(next, 1);
    auto* box = bare(new QVBoxLayout(this));
    box->addLayout(words);
    box->addWidget(state);
    box->addWidget(example);
}

InputPanel::InputPanel(StudioSession& session, const ActionButtons& buttons, QWidget* parent)
    : QWidget(parent) {
    auto* sources = new QComboBox(this);
    sources->setObjectName(QStringLiteral("sourceBox"));
    sources->setAccessibleName(QStringLiteral("Ingång"));
    connect(&session, &StudioSession::inputsChanged, sources, [sources, &session] {
        sources->clear();
        for (const StudioSession::Input& input : session.inputs())
            sources->addItem(input.label, input.name);
        sources->setCurrentIndex(std::max(0, sources->findData(session.input())));
    });
    connect(sources, &QComboBox::activated, &session,
            [sources, &session] { session.chooseInput(sources->currentData().toByteArray()); });
    auto* sourceLabel = new QLabel(QStringLiteral("&Ingång:"), this);
    sourceLabel->setBuddy(sources);

    auto* meter = new LevelMeter(this);
    meter->setObjectName(QStringLiteral("levelMeter"));
    meter->setAccessibleName(QStringLiteral("Nivåmätare"));
    meter->setToolTip(QStringLiteral("Topp och RMS i dBFS; rött fält: överstyrt (klicka "
                                     "för att släcka)"));
    connect(&session.recorder(), &Recorder::level, meter, &LevelMeter::setLevel);
    connect(&session, &StudioSession::takeStarting, meter, &LevelMeter::resetClip);

    auto* voiceStart = new QCheckBox(QStringLiteral("S&tarta på rösten"), this);
    voiceStart->setObjectName(QStringLiteral("voiceStartBox"));
    voiceStart->setAccessibleName(QStringLiteral("Starta tagningen på rösten"));
    voiceStart->setChecked(session.startsOnVoice());
    connect(voiceStart, &QCheckBox::toggled, &session, &StudioSession::setStartOnVoice);
    connect(&session, &StudioSession::controlsChanged, voiceStart,
            [voiceStart, &session] { voiceStart->setEnabled(session.inputUsable()); });
    auto* playAfter = new QCheckBox(QStringLiteral("Spela &upp varje tagning"), this);
    playAfter->setObjectName(QStringLiteral("playAfterTakeBox"));
    playAfter->setAccessibleName(QStringLiteral("Spela upp varje tagning"));
    playAfter->setChecked(session.playsEachTake());
    connect(playAfter, &QCheckBox::toggled, &session, &StudioSession::setPlayEachTake);

    auto* grid = bare(new QGridLayout(this));
    grid->addWidget(sourceLabel, 0, 0);
    grid->addWidget(sources, 0, 1, 1, 2);
    grid->addWidget(meter, 1, 0, 1, 3);
    grid->addWidget(voiceStart, 2, 0, 1, 2);
    grid->addWidget(playAfter, 2, 2);
    grid->addWidget(buttons.at(Action::Record), 3, 0, 1, 3);
}

TakesPanel::TakesPanel(StudioSession& session, const ActionButtons& buttons, QWidget* parent)
    : QWidget(parent) {
    auto* list = new QListWidget(this);
    list->setObjectName(QStringLiteral("takeList"));
    list->setAccessibleName(QStringLiteral("Tagningar"));
    connect(list, &QListWidget::currentRowChanged, &session, &StudioSession::chooseTake);
    QLabel* figures = sessionLabel(this, session, Text::Figures, "takeFigures",
                                   QStringLiteral("Tagningens nivåer"));
    figures->setWordWrap(true);

    auto* cutView = new CutView(this);
    cutView->setObjectName(QStringLiteral("cutView"));
    cutView->setAccessibleName(QStringLiteral("Tagningens klipp"));
    cutView->setToolTip(QStringLiteral("Tagningens nivå; det ljusa är det som behålls"));
    QLabel* cutLabel = sessionLabel(this, session, Text::Cut, "cutLabel", QStringLiteral("Klipp"));
    connect(&session, &StudioSession::textChanged, cutView, [cutView](Text changed, QString now) {
        if (changed == Text::Cut)
            cutView->setAccessibleDescription(now);
    });
    connect(&session, &StudioSession::takesChanged, list, [list, cutView, &session] {
        const auto& takes = session.takes();
        QSignalBlocker block(list);
        // Rows are rewritten in place, so a moved cut does not take the list from under
        // the user's feet.
        if (list->count() != int(takes.size())) {
            list->clear();
            for (std::size_t i = 0; i < takes.size(); ++i)
                list->addItem(session.takeRow(int(i)));
        }
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text() != session.takeRow(i))
                list->item(i)->setText(session.takeRow(i));
        list->setCurrentRow(session.chosenTake());
        if (const int chosen = session.chosenTake(); chosen >= 0) {
            const StudioSession::Take& take = takes[std::size_t(chosen)];
            cutView->setTake(take.outline, std::int64_t(take.raw.size()), take.trim);
        } else {
            cutView->setTake({}, 0, {});
        }
    });

    auto* cut = new QGridLayout;
    cut->addWidget(cutView, 0, 0, 1, 3);
    cut->addWidget(cutLabel, 0, 3, 1, 2);
    int column = 0;
    for (const Action action : {Action::CutStartEarlier, Action::CutStartLater,
                                Action::CutEndEarlier, Action::CutEndLater, Action::ResetCut})
        cut->addWidget(buttons.at(action), 1, column++);
    auto* actions = new QGridLayout;
    int i = 0;
    for (const Action action : {Action::Listen, Action::NewTake, Action::Keep, Action::Skip,
                                Action::Back, Action::Undo, Action::ListenToSaved, Action::Prova}) {
        actions->addWidget(buttons.at(action), i / 4, i % 4);
        ++i;
    }

    auto* box = bare(new QVBoxLayout(this));
    box->addWidget(list, 1);
    box->addWidget(figures);
    box->addLayout(cut);
    box->addLayout(actions);
}

} // namespace brumlis
