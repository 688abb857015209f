#include "messageboxsink.h"

#include <QMessageBox>

namespace brumlis {

void MessageBoxSink::show(const QString& message) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Brumlis"), message, QMessageBox::Ok,
                    m_parent);
    box.setObjectName(QStringLiteral("BrumlisMessage"));
    // A word list name is shown as it is, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace brumlis
