#include "brumlis/studio/wordqueue.h"

#include <algorithm>

namespace brumlis {

namespace {

bool sameWords(const std::vector<WordQueue::Entry>& entries, const std::vector<WordReport>& words) {
    if (entries.size() != words.size())
        return false;
    std::vector<QString> a, b;
    for (const WordQueue::Entry& e : entries)
        a.push_back(e.word.soundPath);
    for (const WordReport& w : words)
        b.push_back(w.soundPath);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

} // namespace

void WordQueue::update(FolderReport report) {
    const QString currentPath = currentEntry() ? currentEntry()->word.soundPath : QString();
    if (sameWords(m_entries, report.words)) {
        for (Entry& entry : m_entries) {
            const auto fresh =
                std::find_if(report.words.begin(), report.words.end(), [&](const WordReport& w) {
                    return w.soundPath == entry.word.soundPath;
                });
            entry.word = *fresh;
            entry.state = wordState(entry.word);
        }
    } else {
        std::vector<Entry> entries;
        for (const WordReport& word : report.words) {
            Entry entry{word, wordState(word), false};
            if (const Entry* old = find(word.soundPath))
                entry.skipped = old->skipped;
            entries.push_back(std::move(entry));
        }
        std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            return int(a.state) < int(b.state);
        });
        m_entries = std::move(entries);
        const auto kept = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
            return e.word.soundPath == currentPath;
        });
        m_current = m_entries.empty()         ? -1
                    : kept != m_entries.end() ? int(kept - m_entries.begin())
                                              : std::min(std::max(m_current, 0), size() - 1);
    }
    m_report = std::move(report);
}

const WordQueue::Entry* WordQueue::currentEntry() const {
    return at(m_current);
}

const WordQueue::Entry* WordQueue::at(int index) const {
    return index >= 0 && index < size() ? &m_entries[std::size_t(index)] : nullptr;
}

void WordQueue::select(int index) {
    if (index >= 0 && index < size())
        m_current = index;
}

bool WordQueue::next() {
    if (m_current + 1 >= size())
        return false;
    ++m_current;
    return true;
}

bool WordQueue::back() {
    if (m_current <= 0)
        return false;
    --m_current;
    return true;
}

bool WordQueue::skip() {
    if (m_current < 0)
        return false;
    m_entries[std::size_t(m_current)].skipped = true;
    return next();
}

void WordQueue::markRecorded(const QString& soundPath, const QByteArray& file) {
    if (Entry* entry = find(soundPath)) {
        entry->word.match = FileResolver::Match::Exact;
        entry->word.problem = ClipDecoder::Problem::None;
        entry->word.madeByVoice = false;
        entry->word.file = file;
        entry->word.foundName = entry->word.soundPath;
        entry->state = WordState::Recorded;
        entry->skipped = false;
    }
}

int WordQueue::recordedCount() const {
    return int(std::count_if(m_entries.begin(), m_entries.end(),
                             [](const Entry& e) { return e.state == WordState::Recorded; }));
}

WordQueue::Entry* WordQueue::find(const QString& soundPath) {
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const Entry& e) { return e.word.soundPath == soundPath; });
    return it != m_entries.end() ? &*it : nullptr;
}

} // namespace brumlis
