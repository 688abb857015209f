#pragma once

#include "brumlis/voicecheck/folderreport.h"

#include <QString>
#include <vector>

namespace brumlis {

/// The words of a data folder in the order they are offered for recording, and the one
/// being recorded. No widgets: the window shows it.
class WordQueue {
public:
    struct Entry {
        WordReport word;
        WordState state = WordState::Missing;
        bool skipped = false; ///< passed over in this session
    };

    /// Takes in a fresh reading of the folder. When the words are the same ones (only their
    /// recordings changed) the order stays as it was, so nothing jumps under the user; when
    /// a list was edited, the words are ordered again: the most in need of a recording
    /// first (missing, not playable, loose name, made by voice, recorded), in list order
    /// within each. The current word stays current when it is still there.
    void update(FolderReport report);

    const std::vector<Entry>& entries() const { return m_entries; }
    const FolderReport& report() const { return m_report; }
    bool isEmpty() const { return m_entries.empty(); }

    /// The index of the current word; -1 when there are no words.
    int current() const { return m_current; }
    const Entry* currentEntry() const;
    const Entry* at(int index) const;

    void select(int index);
    /// One step on; false at the last word.
    bool next();
    /// One step back; false at the first word.
    bool back();
    /// Notes that the current word was passed over and steps on.
    bool skip();

    /// Notes a save at once, before the folder is read again: the word's recording is now
    /// a person's, under its exact name.
    void markRecorded(const QString& soundPath, const QByteArray& file);

    /// Words recorded by a person under their exact name, and all words.
    int recordedCount() const;
    int size() const { return int(m_entries.size()); }

private:
    Entry* find(const QString& soundPath);

    FolderReport m_report;
    std::vector<Entry> m_entries;
    int m_current = -1;
};

} // namespace brumlis
