#include "brumlis/packs/packinstaller.h"

#include "brumlis/platform/systemerror.h"
#include "brumlis/qtbridge/files.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/text/swedish.h"
#include "brumlis/voicecheck/folderreport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brumlis {

namespace {

// The installer's own folders beside the packs: a pack being unpacked, and one on its way
// out. Pack names never start with a dot, so these never meet one.
const QString InstallingPrefix = QStringLiteral(".install-");
const QString LeavingPrefix = QStringLiteral(".old-");

QString systemError() {
    return qt(systemErrorText(errno));
}

// Held while packs are installed or removed, so that two installers do not take each
// other's temporary folders for ones left behind.
class PacksLock {
public:
    explicit PacksLock(const QString& packs)
        : m_fd(::open(QFile::encodeName(packs + QStringLiteral("/.lock")).constData(),
                      O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644)) {
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~PacksLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PacksLock(const PacksLock&) = delete;
    PacksLock& operator=(const PacksLock&) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd;
};

// With the lock held, a temporary folder is one that an installer stopped mid-way left.
void sweepLeftovers(const QString& packs) {
    const QStringList leftovers =
        QDir(packs).entryList({InstallingPrefix + u'*', LeavingPrefix + u'*'},
                              QDir::Dirs | QDir::Hidden | QDir::NoSymLinks);
    for (const QString& name : leftovers)
        QDir(QDir(packs).filePath(name)).removeRecursively();
}

// A new empty folder beside the packs, whose name starts with `prefix`.
QString makeTemporaryFolder(const QString& packs, const QString& prefix) {
    QByteArray pattern = QFile::encodeName(QDir(packs).filePath(prefix + QStringLiteral("XXXXXX")));
    return ::mkdtemp(pattern.data()) ? QFile::decodeName(pattern) : QString();
}

bool renameFolder(const QString& from, const QString& to, unsigned flags) {
    return ::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD,
                       QFile::encodeName(to).constData(), flags) == 0;
}

// Puts the folder `incoming` at `target`, where a pack is installed: after it, `incoming`
// holds the old pack. One atomic exchange, so the place is never empty nor half filled;
// a file system without it gets the old pack renamed aside and the new one renamed in.
bool exchangeFolders(const QString& incoming, const QString& target, const QString& packs) {
    if (renameFolder(incoming, target, RENAME_EXCHANGE))
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    const QString aside = makeTemporaryFolder(packs, LeavingPrefix);
    if (aside.isEmpty() || !renameFolder(target, aside, 0)) // an empty folder is replaced
        return false;
    if (!renameFolder(incoming, target, 0)) {
        renameFolder(aside, target, 0);
        return false;
    }
    return renameFolder(aside, incoming, 0);
}

// One argument of an Exec line: quoted as the desktop entry format asks (a backslash
// before " ` $ and \ inside double quotes), % doubled as it would start a field code,
// then escaped as every string value is (backslash, and the control characters).
QString execArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c == u'%' ? QStringLiteral("%%") : QString(c);
    }
    quoted += u'"';
    QString escaped;
    for (const QChar c : quoted) {
        switch (c.unicode()) {
        case u'\\':
            escaped += QStringLiteral("\\\\");
            break;
        case u'\n':
            escaped += QStringLiteral("\\n");
            break;
        case u'\t':
            escaped += QStringLiteral("\\t");
            break;
        case u'\r':
            escaped += QStringLiteral("\\r");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// The manifest of a pack being installed, with what the installer counted in its files.
bool writeManifest(const QString& folder, const PackManifest& manifest, QString* error) {
    const QString path = QDir(folder).filePath(QLatin1String(ManifestFileName));
    QString why;
    if (writeFileAtomically(path, manifest.toJson(), &why))
        return true;
    *error = QStringLiteral("kan inte skriva %1: %2").arg(path, why);
    return false;
}

std::optional<PackManifest> installedManifest(const QString& folder) {
    QFile file(QDir(folder).filePath(QLatin1String(ManifestFileName)));
    if (!file.open(QIODevice::ReadOnly) || file.size() > UnpackLimits().manifestBytes)
        return std::nullopt;
    return parseManifest(file.read(UnpackLimits().manifestBytes), nullptr);
}

} // namespace

PackPlaces PackPlaces::forUser() {
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return {home + QStringLiteral("/brumlis/packs"), home + QStringLiteral("/applications")};
}

QString PackPlaces::folderOf(const QString& name) const {
    return QDir(packs).filePath(name);
}

QString PackPlaces::menuEntryOf(const QString& name) const {
    // A desktop file's name is an identifier of letters, digits, _ and dots: the pack's
    // own name, which may be anything else, is kept out of it.
    const QByteArray hash =
        QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QDir(applications)
        .filePath(QStringLiteral("se.brumlis.pack_%1.desktop").arg(QLatin1String(hash)));
}

QString packCounts(const PackManifest& manifest) {
    return QStringLiteral("%1, %2").arg(
        qt(swedishCount(manifest.words, u"ord", u"ord")),
        qt(swedishCount(manifest.recordings, u"inspelning", u"inspelningar")));
}

QByteArray menuEntry(const PackManifest& manifest, const QString& folder) {
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Brumlis – %1\n"
                          "Comment=Slumpar fram svenska meningar och läser upp dem med rösten %1 "
                          "(%2)\n"
                          "Exec=brumlis --data %3\n"
                          "Icon=brumlis\n"
                          "Terminal=false\n"
                          "Categories=Game;Amusement;\n")
        .arg(manifest.name, packCounts(manifest), execArgument(folder))
        .toUtf8();
}

PackInstall installPack(const QString& packFile, const PackPlaces& places,
                        const InstallOptions& options) {
    PackInstall result;
    if (!QDir().mkpath(places.packs)) {
        result.error = QStringLiteral("kan inte skapa %1").arg(places.packs);
        return result;
    }
    const PacksLock lock(places.packs);
    if (!lock.held()) {
        result.error = QStringLiteral("kan inte låsa %1: %2").arg(places.packs, systemError());
        return result;
    }
    sweepLeftovers(places.packs);

    QString incoming = makeTemporaryFolder(places.packs, InstallingPrefix);
    if (incoming.isEmpty()) {
        result.error =
            QStringLiteral("kan inte skapa en mapp i %1: %2").arg(places.packs, systemError());
        return result;
    }
    // Whatever is left in it when this returns is not installed: a refused pack, or the
    // old one that was replaced.
    const auto removeIncoming = qScopeGuard([&incoming] { QDir(incoming).removeRecursively(); });

    const PackReading reading = unpackPack(packFile, incoming, options.limits);
    result.warnings = reading.warnings;
    result.missing = reading.missing;
    if (!reading.ok()) {
        result.error = reading.error;
        return result;
    }
    // Looked at where it will be spoken from, before anyone is told it is installed.
    const VoiceSummary voice = summarize(inspectFolder(incoming));
    result.problems = voice.errors;
    result.manifest = reading.manifest;
    result.manifest.words = voice.words;
    result.manifest.recordings = voice.recordings;
    result.manifest.madeByVoice = voice.madeByVoice;
    if (!voice.speakable() && !options.anyway) {
        result.refusedAsBroken = true;
        result.error = QStringLiteral("check hittar %1 i rösten")
                           .arg(qt(swedishCount(voice.errors.size(), u"fel", u"fel")));
        return result;
    }
    if (QString why; !writeManifest(incoming, result.manifest, &why)) {
        result.error = why;
        return result;
    }
    // mkdtemp made it for its owner alone; a data folder is as readable as its files.
    ::chmod(QFile::encodeName(incoming).constData(), 0755);
    result.folder = places.folderOf(reading.manifest.name);

    // A link in a pack's place is not followed: what it points to is not ours to replace.
    if (QFileInfo(result.folder).isSymLink()) {
        result.error = QStringLiteral("%1 är en länk").arg(result.folder);
        return result;
    }
    if (QFileInfo::exists(result.folder)) {
        if (!options.replace) {
            result.refusedAsInstalled = true;
            result.error = QStringLiteral("rösten \"%1\" är redan installerad i %2")
                               .arg(reading.manifest.name, result.folder);
            return result;
        }
        if (!exchangeFolders(incoming, result.folder, places.packs)) {
            result.error =
                QStringLiteral("kan inte ersätta %1: %2").arg(result.folder, systemError());
            return result;
        }
        result.replaced = true;
    } else if (!renameFolder(incoming, result.folder, RENAME_NOREPLACE) &&
               !(errno == EINVAL && renameFolder(incoming, result.folder, 0))) {
        result.error =
            QStringLiteral("kan inte flytta in %1: %2").arg(result.folder, systemError());
        return result;
    }

    const QString entryPath = places.menuEntryOf(reading.manifest.name);
    const QByteArray text = menuEntry(result.manifest, result.folder);
    if (QString why;
        !QDir().mkpath(places.applications) || !writeFileAtomically(entryPath, text, &why))
        result.warnings << QStringLiteral("kan inte skriva menyposten %1").arg(entryPath) +
                               (why.isEmpty() ? QString() : QStringLiteral(": ") + why);
    return result;
}

std::vector<InstalledPack> installedPacks(const PackPlaces& places) {
    std::vector<InstalledPack> packs;
    const QDir root(places.packs);
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString folder = root.filePath(name);
        const std::optional<PackManifest> manifest = installedManifest(folder);
        if (manifest && manifest->name == name)
            packs.push_back({*manifest, folder});
    }
    return packs;
}

QString uninstallPack(const QString& name, const PackPlaces& places) {
    if (const QString wrong = packNameProblem(name); !wrong.isEmpty())
        return QStringLiteral("namnet %1").arg(wrong);
    const QString folder = places.folderOf(name);
    if (QFileInfo(folder).isSymLink() || !installedManifest(folder))
        return QStringLiteral("ingen röst som heter \"%1\" är installerad").arg(name);
    const PacksLock lock(places.packs);
    if (!lock.held())
        return QStringLiteral("kan inte låsa %1: %2").arg(places.packs, systemError());
    // Out of its place in one rename, so that no half-removed pack is ever listed.
    const QString leaving = makeTemporaryFolder(places.packs, LeavingPrefix);
    if (leaving.isEmpty() || !renameFolder(folder, leaving, 0))
        return QStringLiteral("kan inte ta bort %1: %2").arg(folder, systemError());
    QDir(leaving).removeRecursively();
    QFile::remove(places.menuEntryOf(name));
    return {};
}

} // namespace brumlis
