#include "support/eventwait.h"

#include <QDirIterator>
#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QPointer>
#include <QTimer>

namespace brumlis::test {

namespace {

/// Looks at a condition whenever asked to, once the event loop has finished what it was
/// doing, and ends its loop when the condition holds.
class Looker final : public QObject {
public:
    explicit Looker(const std::function<bool()>& holds)
        : m_holds(holds) {}

    /// Several events in a row make one look.
    void lookSoon() {
        if (m_pending)
            return;
        m_pending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_pending = false;
                if (m_holds())
                    m_loop.quit();
            },
            Qt::QueuedConnection);
    }
    bool wait(int ms) {
        if (m_holds())
            return true;
        QTimer::singleShot(ms, &m_loop, [this] { m_loop.exit(1); });
        return m_loop.exec() == 0 || m_holds();
    }

protected:
    bool eventFilter(QObject*, QEvent*) override {
        lookSoon();
        return false;
    }

private:
    const std::function<bool()>& m_holds;
    QEventLoop m_loop;
    bool m_pending = false;
};

} // namespace

bool untilSeen(const std::vector<QObject*>& watched, const std::function<bool()>& holds, int ms) {
    Looker looker(holds);
    std::vector<QPointer<QObject>> filtered;
    for (QObject* object : watched) {
        if (!object)
            continue;
        object->installEventFilter(&looker);
        QObject::connect(object, &QObject::destroyed, &looker, [&looker] { looker.lookSoon(); });
        filtered.emplace_back(object);
    }
    const bool held = looker.wait(ms);
    for (const QPointer<QObject>& object : filtered)
        if (object)
            object->removeEventFilter(&looker);
    return held;
}

bool untilInFolder(const QString& folder, const std::function<bool()>& holds, int ms) {
    Looker looker(holds);
    QFileSystemWatcher watcher;
    // Every folder under it too, and each one made meanwhile as soon as it is seen: what
    // is made in it before then is there for the look that follows.
    const auto watchTree = [&watcher, folder] {
        QStringList folders{folder};
        QDirIterator below(folder, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (below.hasNext())
            folders << below.next();
        const QStringList known = watcher.directories();
        for (const QString& f : folders)
            if (!known.contains(f))
                watcher.addPath(f);
    };
    watchTree();
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &looker,
                     [&looker, &watchTree] {
                         watchTree();
                         looker.lookSoon();
                     });
    return looker.wait(ms);
}

void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace brumlis::test
