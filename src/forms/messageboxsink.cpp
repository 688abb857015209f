#include "messageboxsink.h"

#include "brumlis/qtbridge/text.h"

namespace brumlis {

void MessageBoxSink::show(const std::u16string& message) {
    if (m_aborted)
        return;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Brumlis"), qt(message), QMessageBox::Ok,
                    m_parent);
    box.setObjectName(QStringLiteral("BrumlisMessage"));
    // A word list name is shown as it is, never read as markup.
    box.setTextFormat(Qt::PlainText);
    m_open = &box;
    box.exec();
    m_open = nullptr;
}

void MessageBoxSink::abort() {
    m_aborted = true;
    if (m_open)
        m_open->reject();
}

} // namespace brumlis
