#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace brumlis {

/// Puts new recordings in place under the exact name Brumlis looks a word up by, and keeps
/// what each one replaces, so that the last save can be taken back.
class RecordingSaver {
public:
    /// `dataDir` empty: the working directory.
    explicit RecordingSaver(QString dataDir);

    /// Writes `wav` as <data>/<soundPath> through a temporary file and a rename, so the
    /// name never shows half a file. `replacing` (file-system bytes; empty for none) is the
    /// file the word played until now, found by any rule: it is kept first as
    /// tagningar/<name>/ersatt-<n>.wav, and when it had a loose name it leaves sound/, so
    /// that only the exact name is left. On failure sound/ is as it was.
    bool save(const QString& soundPath, QByteArrayView wav, const QByteArray& replacing,
              QString* error = nullptr);

    /// The word (its sound path) whose save undo() takes back; empty when there is none.
    QString undoable() const { return m_undo ? m_undo->soundPath : QString(); }

    /// Takes the last save back: the file it replaced returns under its own name or, when
    /// it replaced nothing, the new one is removed. Raw takes are not touched.
    bool undo(QString* error = nullptr);

private:
    struct Undo {
        QString soundPath;
        QByteArray saved;    ///< the file written
        QByteArray backup;   ///< where the replaced file was kept; empty when there was none
        QByteArray original; ///< the replaced file's own name
    };

    QString m_root;
    std::optional<Undo> m_undo;
};

} // namespace brumlis
