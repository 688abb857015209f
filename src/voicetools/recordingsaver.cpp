#include "brumlis/voicetools/recordingsaver.h"

#include "brumlis/platform/systemerror.h"
#include "brumlis/qtbridge/files.h"
#include "brumlis/soundfiles/wavfile.h"
#include "brumlis/voicecheck/folderreport.h"
#include "brumlis/voicetools/takestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace brumlis {

namespace {

QString systemError() {
    return qt(systemErrorText(errno));
}

bool sameFile(const QByteArray& a, const QByteArray& b) {
    struct stat sa, sb;
    return ::stat(a.constData(), &sa) == 0 && ::stat(b.constData(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool exists(const QByteArray& path) {
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

// A fresh name for the next file a word's save replaces: earlier ones are never overwritten.
QByteArray nextBackup(const QString& folder) {
    for (int n = 1;; ++n) {
        const QByteArray path = QFile::encodeName(folder + QStringLiteral("/ersatt-%1.wav").arg(n));
        if (!exists(path))
            return path;
    }
}

// Keeps `file` at `backup`: a second name for the same bytes when the file system allows it,
// else a copy. The original stays where it is until the new recording has taken its place.
bool keep(const QByteArray& file, const QByteArray& backup, QString* error) {
    if (::link(file.constData(), backup.constData()) == 0)
        return true;
    QFile source(QFile::decodeName(file));
    if (!source.open(QIODevice::ReadOnly)) {
        if (error)
            *error = qt(systemErrorText(errno));
        return false;
    }
    return writeFileAtomically(QFile::decodeName(backup), source.readAll(), error);
}

} // namespace

RecordingSaver::RecordingSaver(QString dataDir)
    : m_root(dataDir.isEmpty() ? QStringLiteral(".") : std::move(dataDir)) {}

bool RecordingSaver::save(const QString& soundPath, QByteArrayView wav, const QByteArray& replacing,
                          QString* error) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QString folder = TakeStore(m_root).folderPath(soundPath);
    if (folder.isEmpty())
        return fail(QStringLiteral("ordet kan inte bli ett filnamn"));
    const QString target = recordingTarget(m_root, soundPath);
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return fail(QStringLiteral("kan inte skapa mappen sound"));

    Undo undo{soundPath, QFile::encodeName(target), {}, replacing};
    if (!replacing.isEmpty() && exists(replacing)) {
        if (!QDir().mkpath(folder))
            return fail(QStringLiteral("kan inte skapa %1").arg(folder));
        undo.backup = nextBackup(folder);
        if (!keep(replacing, undo.backup, error))
            return false;
    }
    if (!writeFileAtomically(target, wav, error)) {
        if (!undo.backup.isEmpty())
            ::unlink(undo.backup.constData());
        return false;
    }
    // A loosely named file would still be found by some systems and counted unused by check.
    // On a file system that ignores case it may be the very name just written.
    if (!undo.backup.isEmpty() && !sameFile(replacing, undo.saved))
        ::unlink(replacing.constData());
    m_undo = undo;
    return true;
}

bool RecordingSaver::undo(QString* error) {
    if (!m_undo)
        return false;
    const Undo undo = *m_undo;
    if (undo.backup.isEmpty()) {
        if (::unlink(undo.saved.constData()) != 0 && errno != ENOENT) {
            if (error)
                *error = systemError();
            return false;
        }
    } else {
        if (::rename(undo.backup.constData(), undo.original.constData()) != 0) {
            if (error)
                *error = systemError();
            return false;
        }
        if (!sameFile(undo.original, undo.saved))
            ::unlink(undo.saved.constData());
    }
    m_undo.reset();
    return true;
}

} // namespace brumlis
