#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace brumlis {

class Brumform;

/// The credits window. Modeless, without a taskbar entry; "whatever..", Enter and Esc
/// close it and hand the focus back to Generera. It deletes itself when closed, so every
/// opening builds it afresh and runs Form_Load again.
class About final : public QWidget {
    Q_OBJECT

public:
    explicit About(Brumform* mainWindow);

    /// The credits, with CR LF line breaks, exactly as Form_Load puts them in `description`.
    static QString creditsText();

public Q_SLOTS:
    void cmdOK_Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Load();

    QPointer<Brumform> m_main;
    QLabel* title;
    QLabel* description;
    QPushButton* cmdOK;
};

} // namespace brumlis
