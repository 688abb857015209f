#include "soundresolver.h"

#include "sentence/wordlist.h"

#include <QFile>
#include <QStringConverter>
#include <QStringList>
#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace brumlis {

namespace {

bool exists(const QByteArray& path) {
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

std::vector<QByteArray> listFolder(const QByteArray& folder) {
    std::vector<QByteArray> names;
    DIR* dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

QString caseKey(const QString& name) {
    return name.toCaseFolded();
}

QString normalisedKey(const QString& name) {
    // Folding can change the composition, so normalise on both sides of it.
    return name.normalized(QString::NormalizationForm_C)
        .toCaseFolded()
        .normalized(QString::NormalizationForm_C);
}

bool isUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes); // the decoder only runs when its result is taken
    return !decoder.hasError();
}

using Match = SoundResolver::Match;

/// Finds `wanted` among the entries of `folder` by the relaxed rules, in their order.
SoundResolver::Found matchInFolder(const QByteArray& folder, const QString& wanted) {
    const std::vector<QByteArray> names = listFolder(folder);
    const QString byCase = caseKey(wanted);
    for (const QByteArray& name : names) {
        if (isUtf8(name) && caseKey(QString::fromUtf8(name)) == byCase)
            return {name, Match::Case};
    }
    const QString byForm = normalisedKey(wanted);
    for (const QByteArray& name : names) {
        if (isUtf8(name) && normalisedKey(QString::fromUtf8(name)) == byForm)
            return {name, Match::Form};
    }
    for (const QByteArray& name : names) {
        // Bytes that are not UTF-8 were most likely written in the Windows code page.
        if (!isUtf8(name) && normalisedKey(decodeListBytes(name)) == byForm)
            return {name, Match::Windows1252};
    }
    return {};
}

QByteArray joined(const QByteArray& folder, const QByteArray& name) {
    if (folder.isEmpty())
        return name;
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

} // namespace

SoundResolver::SoundResolver(QString dataDir)
    : m_root(QFile::encodeName(dataDir)) {}

SoundResolver::Found SoundResolver::find(const QString& path) const {
    // No file name holds NUL, and the system calls would stop reading the path there.
    if (path.isEmpty() || path.contains(QChar(0)))
        return {};
    QString unified = path;
    unified.replace(u'\\', u'/');
    // Absolute on either system: "/x", "C:x" or "C:/x".
    if (unified.startsWith(u'/') || (unified.size() >= 2 && unified[1] == u':'))
        return {};

    QStringList parts;
    for (const QString& part : unified.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u"..")
            return {};
        if (part != u".")
            parts << part;
    }
    if (parts.isEmpty())
        return {};

    QByteArray exact = m_root;
    for (const QString& part : parts)
        exact = joined(exact, QFile::encodeName(part));
    if (exists(exact))
        return {exact, Match::Exact};

    Found found{m_root, Match::Exact};
    for (const QString& part : parts) {
        const QByteArray direct = joined(found.path, QFile::encodeName(part));
        if (exists(direct)) {
            found.path = direct;
            continue;
        }
        const Found match = matchInFolder(found.path, part);
        if (match.match == Match::None)
            return {};
        found.path = joined(found.path, match.path);
        found.match = std::max(found.match, match.match);
    }
    return found;
}

} // namespace brumlis
