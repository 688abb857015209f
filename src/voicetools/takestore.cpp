#include "brumlis/voicetools/takestore.h"

#include "brumlis/audio/clipdecoder.h"
#include "brumlis/qtbridge/files.h"
#include "brumlis/soundfiles/wavfile.h"
#include "brumlis/voicecheck/folderreport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace brumlis {

namespace {

QString trimFile(const QString& wavPath) {
    return wavPath.chopped(4) + QStringLiteral(".json");
}

QByteArray trimJson(const StoredTake& take) {
    const QJsonObject object{{QStringLiteral("rate"), take.rate},
                             {QStringLiteral("frames"), qint64(take.frames)},
                             {QStringLiteral("trimStart"), qint64(take.trim.start)},
                             {QStringLiteral("trimEnd"), qint64(take.trim.end)}};
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<TrimPoints> readTrim(const QString& path, std::int64_t frames) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject object = QJsonDocument::fromJson(file.read(64 * 1024)).object();
    const auto start = object.value(QStringLiteral("trimStart")).toInteger(-1);
    const auto end = object.value(QStringLiteral("trimEnd")).toInteger(-1);
    if (start < 0 || end < start || end > frames)
        return std::nullopt;
    return TrimPoints{start, end};
}

} // namespace

TakeStore::TakeStore(QString dataDir)
    : m_root(dataDir.isEmpty() ? QStringLiteral(".") : std::move(dataDir)) {}

QString TakeStore::wordFolder(const QString& soundPath) {
    QString name = soundPath;
    name.replace(u'\\', u'/');
    if (!name.startsWith(u"sound/") || !name.endsWith(u".wav"))
        return {};
    name = name.sliced(6).chopped(4);
    return fileNameProblem(name).isEmpty() ? name : QString();
}

QString TakeStore::folderPath(const QString& soundPath) const {
    const QString name = wordFolder(soundPath);
    return name.isEmpty() ? QString() : m_root + u'/' + QLatin1String(TakesFolder) + u'/' + name;
}

std::optional<StoredTake> TakeStore::add(const QString& soundPath,
                                         const std::vector<float>& samples, int rate,
                                         TrimPoints trim, QString* error) const {
    auto fail = [error](const QString& why) -> std::optional<StoredTake> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QString folder = folderPath(soundPath);
    if (folder.isEmpty())
        return fail(QStringLiteral("ordet kan inte bli ett filnamn"));
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("kan inte skapa %1").arg(folder));
    const std::vector<StoredTake> existing = takes(soundPath);
    StoredTake take;
    take.number = existing.empty() ? 1 : existing.back().number + 1;
    take.wavPath = folder + QStringLiteral("/%1.wav").arg(take.number);
    take.rate = rate;
    take.frames = std::int64_t(samples.size());
    take.trim = trim;
    const QByteArray wav = encodeFloatWav(samples, rate, StudioSoftware);
    if (wav.isEmpty())
        return fail(QStringLiteral("tagningen kan inte kodas"));
    QString why;
    if (!writeFileAtomically(take.wavPath, wav, &why) ||
        !writeFileAtomically(trimFile(take.wavPath), trimJson(take), &why))
        return fail(why);
    return take;
}

bool TakeStore::setTrim(StoredTake& take, TrimPoints trim, QString* error) const {
    StoredTake moved = take;
    moved.trim = trim;
    if (!writeFileAtomically(trimFile(take.wavPath), trimJson(moved), error))
        return false;
    take = moved;
    return true;
}

std::vector<StoredTake> TakeStore::takes(const QString& soundPath) const {
    std::vector<StoredTake> found;
    const QString folder = folderPath(soundPath);
    if (folder.isEmpty())
        return found;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.wav")}, QDir::Files)) {
        bool numbered = false;
        const int number = name.chopped(4).toInt(&numbered);
        if (!numbered || number < 1)
            continue;
        StoredTake take;
        take.number = number;
        take.wavPath = dir.filePath(name);
        // The length comes from the sound itself, not from what the trim file claims.
        const std::optional<SoundFileInfo> info = soundFileInfo(QFile::encodeName(take.wavPath));
        if (!info || info->rate < ClipDecoder::MinRate || info->frames <= 0)
            continue;
        take.rate = info->rate;
        take.frames = info->frames;
        if (const auto trim = readTrim(trimFile(take.wavPath), take.frames)) {
            take.trim = *trim;
        } else {
            const std::optional<RawTake> raw = load(take);
            if (!raw)
                continue;
            take.trim = findTrim(raw->samples, raw->rate).value_or(TrimPoints{0, take.frames});
        }
        found.push_back(take);
    }
    std::sort(found.begin(), found.end(),
              [](const StoredTake& a, const StoredTake& b) { return a.number < b.number; });
    return found;
}

std::optional<RawTake> TakeStore::load(const StoredTake& take) const {
    ClipDecoder decoder;
    if (!decoder.open(corePath(take.wavPath)))
        return std::nullopt;
    RawTake raw;
    raw.rate = decoder.sampleRate();
    const int channels = decoder.channels();
    constexpr std::int64_t Chunk = 4096;
    std::vector<float> buffer(std::size_t(Chunk * channels));
    while (const std::int64_t got = decoder.read(buffer.data(), Chunk))
        for (std::int64_t f = 0; f < got; ++f) {
            float sum = 0.0f;
            for (int c = 0; c < channels; ++c)
                sum += buffer[std::size_t(f * channels + c)];
            raw.samples.push_back(sum / float(channels));
        }
    return raw;
}

} // namespace brumlis
