#include "windowroles.h"

#include "about.h"
#include "brumlis/forms/brumform.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace brumlis {

namespace {

QAccessibleInterface* windowRole(const QString& className, QObject* object) {
    // The factory is asked once per class up the hierarchy, most derived first.
    if (className == QLatin1String(Brumform::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    if (className == QLatin1String(About::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Dialog);
    return nullptr;
}

} // namespace

void installWindowRoles() {
    static const bool installed = [] {
        QAccessible::installFactory(windowRole);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace brumlis
