#include "formfixture.h"

#include "about.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/shapes.h"
#include "support/eventwait.h"
#include "support/widgetevents.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSignalSpy>
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
    watch.reset();
    form.reset();
    auto fake = std::make_unique<FakePlayer>();
    player = fake.get();
    form = std::make_unique<Brumform>(std::move(fake), dir.path());
    shown.clear();
    watch = std::make_unique<LabelWatch>(smisk(), button("Command1"), &shown);
    form->show();
    form->activateWindow();
    ASSERT_TRUE(untilActive(form.get()));
}

void FormTest::TearDown() {
    closeStrayWindows();
    watch.reset();
    form.reset();
}

void FormTest::writeList(const QString& category, const QStringList& words) {
    dir.write(QStringLiteral("text/") + category + QStringLiteral(".txt"),
              words.join(u'\n').toUtf8() + '\n');
}

namespace {

// The text a slot shows for the clip it plays: a phrase's own, or the word the clip is named
// after ("sound/" + word + ".wav"); a slot without a clip shows nothing.
QString shownFor(const QString& clip) {
    for (const std::u16string& phrase : vocabularyOf(builtinShapes()).phrases)
        if (clip == qt(phraseSoundPath(phrase)))
            return qt(phrase);
    if (clip.startsWith(QLatin1String("sound/")) && clip.endsWith(QLatin1String(".wav")))
        return clip.sliced(6).chopped(4);
    return QString();
}

} // namespace

QString FormTest::expectedLabel(int last) const {
    const QStringList clips = player->spoken.empty() ? QStringList() : qt(player->spoken.back());
    QString text;
    for (int i = 0; i <= last; ++i)
        text += shownFor(clips.value(i)) + u' ';
    return text;
}

int FormTest::templateOf(const QStringList& paths) const {
    const auto listed = [&](const QString& category, const QString& path) {
        QFile list(dir.filePath(QStringLiteral("text/%1.txt").arg(category)));
        if (!list.open(QIODevice::ReadOnly))
            return path.isEmpty(); // a failed pick leaves its slot empty
        for (const QByteArray& word : list.readAll().split('\n'))
            if (!word.trimmed().isEmpty() &&
                path == QStringLiteral("sound/%1.wav").arg(QString::fromUtf8(word.trimmed())))
                return true;
        return false;
    };
    const auto fits = [&](const SentenceShape& shape) {
        if (paths.size() != SentenceBuffer::SpokenSlots)
            return false;
        int i = 0;
        for (const ShapePart& part : shape.parts) {
            const bool fitting = part.kind == ShapePart::Kind::Phrase
                                     ? paths[i] == qt(phraseSoundPath(part.text))
                                     : listed(qt(part.text), paths[i]);
            if (!fitting)
                return false;
            ++i;
        }
        for (; i < SentenceBuffer::SpokenSlots; ++i)
            if (!paths[i].isEmpty())
                return false;
        return true;
    };
    for (const SentenceShape& shape : builtinShapes().shapes)
        if (fits(shape))
            return shape.number;
    return 0;
}

void FormTest::clickAndListen(const char* name) {
    QTest::mouseClick(button(name), Qt::LeftButton);
    EXPECT_TRUE(waitUntilSpoken()) << name;
}

bool FormTest::sentenceOver() const {
    return button("Command1")->isEnabled() &&
           (player->spoken.empty() || smisk()->text() == expectedLabel(14));
}

bool FormTest::waitUntilSpoken() const {
    return untilSeen({smisk(), button("Command1")}, [this] { return sentenceOver(); });
}

bool FormTest::takesInput() {
    QPushButton probe;
    QSignalSpy clicked(&probe, &QPushButton::clicked);
    QTest::keyClick(&probe, Qt::Key_Space);
    return clicked.count() == 1;
}

LabelWatch::LabelWatch(QLabel* label, QPushButton* generate, std::vector<Shown>* shown)
    : m_label(label)
    , m_generate(generate)
    , m_shown(shown)
    , m_last(label->text()) {
    label->installEventFilter(this);
}

bool LabelWatch::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_label && m_label->text() != m_last) {
        m_last = m_label->text();
        // A sentence starts from an empty label; every word after that makes it longer.
        if (!m_last.isEmpty())
            m_shown->push_back({m_last, m_generate->isEnabled()});
    }
    return QObject::eventFilter(watched, event);
}

About* aboutWindow() {
    return qobject_cast<About*>(topLevelNamed("About"));
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
