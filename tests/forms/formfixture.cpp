#include "formfixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>

namespace brumlis::test {

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
    openForm();
}

void FormTest::openForm() {
    closeStrayWindows();
    form.reset();
    auto fake = std::make_unique<FakePlayer>();
    player = fake.get();
    form = std::make_unique<Brumform>(std::move(fake), dir.path());
    shown.clear();
    QObject::connect(&form->speech(), &SpeechController::wordShown, form.get(), [this] {
        shown.push_back({smisk()->text(), button("Command1")->isEnabled()});
    });
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

void FormTest::clickAndListen(const char* name) {
    QTest::mouseClick(button(name), Qt::LeftButton);
    EXPECT_TRUE(waitUntilSpoken()) << name;
}

bool FormTest::waitUntilSpoken() const {
    return QTest::qWaitFor([this] { return !form->isSpeaking(); });
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
