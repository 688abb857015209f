#include "about.h"

#include "brumlis/forms/brumform.h"
#include "looks.h"
#include "windowroles.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace brumlis {

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, QRect where, const QFont& font) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(where);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    paintPink(label);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    return label;
}

} // namespace

About::About(Brumform* mainWindow)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_main(mainWindow) {
    installWindowRoles();
    setObjectName(QStringLiteral("About"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Tool windows do not keep the program running by default; this one must, so that
    // closing the main window while it is open leaves the program going.
    setAttribute(Qt::WA_QuitOnClose, true);
    setWindowTitle(QStringLiteral("Om brumlis"));
    setWindowIcon(brumlisIcon());
    setFixedSize(396, 197);
    paintPink(this);

    // A plain-text label shows "&" as it is: one ampersand between the two names.
    title = makeLabel(this, "title", QRect(8, 8, 259, 24), verdana(11.25, true));
    title->setText(QStringLiteral("Brumlis av fnurre & vRx"));
    description = makeLabel(this, "description", QRect(8, 32, 381, 129), verdana(9, false));

    cmdOK = new QPushButton(QStringLiteral("whatever.."), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(152, 168, 84, 23);
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &About::cmdOK_Click);
    cmdOK->setFocus(Qt::OtherFocusReason);

    Form_Load();
}

QString About::creditsText() {
    return QStringLiteral(
        "Brumlis är gjort av fnurre och vRx som Useless Utility compo-bidrag på Vinterlan 2001."
        "\r\n"
        "Programmet är gjort i C++ och Qt, och betatestat på Windows 98 och Windows XP. All text "
        "och ljud kan enkelt bytas ut efter eget behov."
        "\r\n\r\n"
        "Greets till Tufsen, ZiMbAlOx, trolm, v1ndel, Nordbit Crew och alla andra vänner vi inte "
        "fick plats att inkludera, eftersom den här lama ursäkten tog upp för stor plats :).");
}

void About::Form_Load() {
    description->setText(creditsText());
}

void About::cmdOK_Click() {
    close();
    if (m_main)
        m_main->returnFocusToGenerate();
}

void About::keyPressEvent(QKeyEvent* event) {
    // "whatever.." is both the default and the cancel button.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        cmdOK_Click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace brumlis
