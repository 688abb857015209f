// Any word as the name of its recording: whatever it holds ("..", absolute paths, NUL,
// backslashes, bytes that are not UTF-8), the lookup answers with a file inside sound/
// or with nothing.
#include "brumlis/sentence/fileresolver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

namespace {

using namespace brumlis;

// A data folder with a few recordings to be found by every rule, and one file outside
// sound/ that no word may reach.
struct DataFolder {
    DataFolder() {
        QDir root(dir.path());
        root.mkpath(QStringLiteral("sound/djur"));
        for (const QByteArray& name :
             {QByteArray("sound/Kalle.wav"), QByteArray("sound/\xc3\xa5sa.wav"),
              QByteArray("sound/M\xe4rta.wav"), QByteArray("sound/djur/katt.wav"),
              QByteArray("sound/G\x6f\xcc\x88ran.wav"), QByteArray("hemlig.wav")}) {
            QFile file(QFile::decodeName(QFile::encodeName(dir.path()) + '/' + name));
            if (!file.open(QIODevice::WriteOnly))
                std::abort();
        }
        soundPrefix = QFile::encodeName(dir.path()) + "/sound/";
    }
    QTemporaryDir dir;
    QByteArray soundPrefix;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const DataFolder folder;
    static const FileResolver resolver(folder.dir.path());

    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    // The word as a list would hand it over: UTF-8, or else one character per byte.
    for (const QString& word : {QString::fromUtf8(raw), QString::fromLatin1(raw)}) {
        const FileResolver::Found found = resolver.find("sound\\" + word + ".wav");
        if (found.path.isEmpty() != (found.match == FileResolver::Match::None))
            std::abort();
        if (!found.path.isEmpty() && (!found.path.startsWith(folder.soundPrefix) ||
                                      found.path.contains("/../") || found.path.contains('\0')))
            std::abort();
    }
    return 0;
}
