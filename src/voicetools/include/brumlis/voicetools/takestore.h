#pragma once

#include "brumlis/voicetools/taketrim.h"

#include <QString>
#include <optional>
#include <vector>

namespace brumlis {

/// The folder under the data folder that keeps raw takes. check reads only sound/, so
/// nothing here counts as a recording, used or unused.
inline constexpr char TakesFolder[] = "tagningar";

/// One raw take as kept on disk: tagningar/<name>/<number>.wav, the sound as recorded
/// (32-bit float, mono), and <number>.json next to it with where it is cut.
struct StoredTake {
    int number = 0;
    QString wavPath;
    int rate = 0;
    std::int64_t frames = 0;
    TrimPoints trim;
};

/// A raw take read back.
struct RawTake {
    std::vector<float> samples;
    int rate = 0;
};

/// The raw takes of each word, numbered from 1 in the order they were made, so a trim can
/// be done again later and no take is lost once another one is kept.
class TakeStore {
public:
    /// `dataDir` empty: the working directory.
    explicit TakeStore(QString dataDir);

    /// The name of a word's folder, from the recording Brumlis looks it up by:
    /// "sound/gömmer sig.wav" gives "gömmer sig", "sound/tycker_att.wav" "tycker_att".
    /// Empty when it cannot be a folder name.
    static QString wordFolder(const QString& soundPath);

    /// The full path of that folder: <data>/tagningar/<name>.
    QString folderPath(const QString& soundPath) const;

    /// Keeps `samples` as the next take of the word, with its trim points. Both files are
    /// written to temporary names first and renamed, the sound before its trim points.
    std::optional<StoredTake> add(const QString& soundPath, const std::vector<float>& samples,
                                  int rate, TrimPoints trim, QString* error = nullptr) const;

    /// Moves the cut of a stored take.
    bool setTrim(StoredTake& take, TrimPoints trim, QString* error = nullptr) const;

    /// The word's takes, by number. A take whose trim points were lost (say, the program
    /// ended between the two files) is cut anew, as findTrim() cuts it.
    std::vector<StoredTake> takes(const QString& soundPath) const;

    std::optional<RawTake> load(const StoredTake& take) const;

private:
    QString m_root;
};

} // namespace brumlis
