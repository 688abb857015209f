#include "formfixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>

namespace brumlis::test {

void WaitingPlayer::play(const QString& path) {
    QLabel* label = form ? form->findChild<QLabel*>(QStringLiteral("smisk")) : nullptr;
    QPushButton* generate =
        form ? form->findChild<QPushButton*>(QStringLiteral("Command1")) : nullptr;
    calls.push_back({path, label ? label->text() : QString(), generate && generate->isEnabled()});
    if (onPlay)
        onPlay(int(calls.size()) - 1);
    idle();
}

MessageBoxAnswerer::MessageBoxAnswerer() {
    // Looks once per turn of whatever event loop runs, the message box's own included.
    startTimer(0);
}

void MessageBoxAnswerer::timerEvent(QTimerEvent*) {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    Box seen{box->windowTitle(), box->text(), int(box->icon()), {}};
    for (QAbstractButton* b : box->buttons())
        seen.buttons << b->text();
    boxes.push_back(seen);
    if (QAbstractButton* ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->close();
}

void FormTest::SetUp() {
    writeList(QStringLiteral("namn"), {QStringLiteral("Kalle")});
    writeList(QStringLiteral("adj"), {QStringLiteral("glad")});
    writeList(QStringLiteral("adj_neu"), {QStringLiteral("stort")});
    writeList(QStringLiteral("färg"), {QStringLiteral("röd")});
    writeList(QStringLiteral("sub"), {QStringLiteral("kaffe")});
    writeList(QStringLiteral("sub_neu"), {QStringLiteral("hus")});
    writeList(QStringLiteral("sub_reale"), {QStringLiteral("bil")});
    writeList(QStringLiteral("verb_pre"), {QStringLiteral("dansar")});
    writeList(QStringLiteral("verb_per"), {QStringLiteral("druckit")});
    writeList(QStringLiteral("prep"), {QStringLiteral("i")});
    writeList(QStringLiteral("plats"), {QStringLiteral("Luleå")});

    auto recording = std::make_unique<WaitingPlayer>();
    player = recording.get();
    form = std::make_unique<Brumform>(std::move(recording), dir.path());
    player->form = form.get();
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
}

void FormTest::TearDown() {
    closeStrayWindows();
    form.reset();
}

void FormTest::writeList(const QString& category, const QStringList& words) {
    dir.write(QStringLiteral("text/") + category + QStringLiteral(".txt"),
              words.join(u'\n').toUtf8() + '\n');
}

QString FormTest::expectedLabel(int last) const {
    QString text;
    for (int i = 0; i <= last; ++i)
        text += form->sentence().WordText(i) + u' ';
    return text;
}

void closeStrayWindows() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("About")) {
            w->close();
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace brumlis::test
