#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

namespace brumlis::test {

/// Runs the event loop until `holds`, looked at first and again after every event one of
/// `watched` gets (a button's EnabledChange, a label's Paint, a window's activation or
/// Close, its destruction), for at most `ms`. Whether it came to hold. The bound is a
/// single-shot timer: nothing sleeps, and a broken program fails the test instead of
/// hanging it. The look comes once the event has been handled, so `holds` sees what the
/// event changed.
bool untilSeen(const std::vector<QObject*>& watched, const std::function<bool()>& holds,
               int ms = 10000);

/// Runs the event loop until `holds`, looked at first and again whenever something is made,
/// moved or removed in `folder` or in a folder under it (inotify, through
/// QFileSystemWatcher), for at most `ms`. Whether it came to hold.
bool untilInFolder(const QString& folder, const std::function<bool()>& holds, int ms = 10000);

/// Runs the event loop for `ms`, as the program's own loop runs: for a span of time a
/// figure is measured over, where there is nothing to wait for.
void runEventLoopFor(int ms);

} // namespace brumlis::test
