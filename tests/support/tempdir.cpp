#include "tempdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

namespace brumlis::test {

TempDir::TempDir() {
    if (!m_dir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
}

void TempDir::write(const QString& relative, const QByteArray& bytes) const {
    const QString path = filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

void TempDir::mkdir(const QString& relative) const {
    QDir().mkpath(filePath(relative));
}

} // namespace brumlis::test
