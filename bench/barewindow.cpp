// A window of the main window's shape built from Qt Widgets and nothing else: the same
// size, title and window flags, a label and three buttons where the sentence and the
// buttons stand, centred on the screen. No pictures, fonts, colours, sound or data
// folder. bench-forms starts it beside the real program, so that what brumlis costs at
// start-up and in memory can be told from what any Qt 6 window of that shape costs.
#include "brumlis/forms/layout.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

namespace {

QPushButton* addButton(QWidget* window, const char* name, const QString& caption, QRect where) {
    auto* button = new QPushButton(caption, window);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(where);
    button->setAutoDefault(false);
    return button;
}

} // namespace

int main(int argc, char* argv[]) {
    using namespace brumlis;
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window.setObjectName(QStringLiteral("BareWindow"));
    window.setWindowTitle(QStringLiteral(" Brumlis"));
    window.setFixedSize(layout::MainWindow);

    auto* label =
        new QLabel(QStringLiteral("Tryck på Generera för att slumpa fram en mening."), &window);
    label->setObjectName(QStringLiteral("smisk"));
    label->setGeometry(layout::SentenceLabel);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QPushButton* repeat =
        addButton(&window, "cmdRepeat", QStringLiteral("Repetera"), layout::RepeatButton);
    QPushButton* generate =
        addButton(&window, "Command1", QStringLiteral("Generera"), layout::GenerateButton);
    QPushButton* about =
        addButton(&window, "cmdInformera", QStringLiteral("Informera"), layout::AboutButton);
    repeat->setEnabled(false);
    QWidget::setTabOrder(repeat, generate);
    QWidget::setTabOrder(generate, about);
    generate->setFocus(Qt::OtherFocusReason);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    return app.exec();
}
