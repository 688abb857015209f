#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace brumlis::test {

/// A scratch folder that disappears with the test.
class TempDir {
public:
    TempDir();
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& relative) const { return m_dir.filePath(relative); }

    /// Writes `bytes` to `relative`, creating the folders on the way.
    void write(const QString& relative, const QByteArray& bytes) const;
    void mkdir(const QString& relative) const;

private:
    QTemporaryDir m_dir;
};

} // namespace brumlis::test
