// The takes of the word on screen: recording them, reading them back, their cuts, keeping
// one, taking the keeping back, and trying one in a sentence.
#include "brumlis/playback/speechcontroller.h"
#include "brumlis/qtbridge/files.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/soundfiles/wavfile.h"
#include "brumlis/studio/examplesentence.h"
#include "brumlis/studio/studiosession.h"
#include "brumlis/voicetools/voicemaker.h"
#include "take.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace brumlis {

void StudioSession::toggleRecording() {
    if (m_recorder->isRecording()) {
        m_recorder->stopTake();
        return;
    }
    newTake();
}

void StudioSession::newTake() {
    if (!canDo(Action::Record) || m_recorder->isRecording())
        return;
    stopTake();
    Q_EMIT takeStarting();
    m_recorder->startTake();
}

void StudioSession::onTakeStarted() {
    // The take is for the word on screen when it began, even if the user moves on.
    m_takeWord = m_takesOf;
    stopTake();
    Q_EMIT takeStarting();
    setText(Text::Status, QStringLiteral("Spelar in ”%1” …").arg(text(Text::CurrentWord)));
    updateControls();
}

void StudioSession::onTakeEnded(const TakeDetector::Take& ended) {
    const QString soundPath = m_takeWord.isEmpty() ? m_takesOf : m_takeWord;
    m_takeWord.clear();
    updateControls();
    if (soundPath.isEmpty())
        return;
    const std::optional<double> median = m_queue.report().medianLufs;
    const int id = m_nextTakeId++;
    auto raw = std::make_shared<std::vector<float>>(ended.samples);
    onDisk([this, soundPath, median, id, raw, rate = ended.rate] {
        auto take = std::make_shared<Take>(analyseTake(std::move(*raw), rate, median));
        take->id = id;
        // Shown first: storing it needs a flush to disk, which the user need not wait for.
        inSession([this, soundPath, take] { onTakeReady(soundPath, *take); });
        QString why;
        const std::optional<StoredTake> stored =
            m_store.add(soundPath, take->raw, take->rate, take->trim, &why);
        if (stored) {
            {
                const std::lock_guard lock(take->trimFile->mutex);
                take->trimFile->stored = *stored;
            }
            // The user may have moved the cut while the take was being stored.
            writeCut(*take->trimFile);
        }
        inSession([this, soundPath, id, stored, why] {
            if (!stored) {
                setText(Text::Status, QStringLiteral("Tagningen kunde inte sparas i %1: %2")
                                          .arg(QLatin1String(TakesFolder), why));
                return;
            }
            for (Take& take : m_takes)
                if (take.id == id && m_takesOf == soundPath) {
                    take.number = stored->number;
                    showTakes(m_chosen);
                }
            Q_EMIT takeStored(stored->number);
        });
    });
}

void StudioSession::onTakeReady(const QString& soundPath, Take take) {
    if (soundPath != m_takesOf)
        return;
    const bool clipped = take.figures.clipped;
    const bool voiced = take.voiced;
    std::vector<float> clip = cutClip(take);
    const int rate = take.rate;
    m_takes.push_back(std::move(take));
    showTakes(int(m_takes.size()) - 1);
    updateControls();
    setText(Text::Status,
            clipped  ? QStringLiteral("Tagningen är överstyrd: gör en ny (R), eller behåll den "
                                       "ändå (Enter).")
            : voiced ? QStringLiteral("Behåll med Enter, gör en ny med R, lyssna med P.")
                     : QStringLiteral("Ingen röst i tagningen."));
    if (m_playEachTake && voiced)
        play(std::move(clip), rate);
    Q_EMIT takeShown(int(m_takes.size()) - 1);
}

void StudioSession::loadTakes() {
    const unsigned generation = ++m_loadGeneration;
    if (m_takesOf.isEmpty())
        return;
    const std::optional<double> median = m_queue.report().medianLufs;
    onDisk([this, generation, soundPath = m_takesOf, median] {
        auto loaded = std::make_shared<std::vector<Take>>();
        for (const StoredTake& stored : m_store.takes(soundPath)) {
            std::optional<RawTake> raw = m_store.load(stored);
            if (!raw)
                continue;
            Take take = analyseTake(std::move(raw->samples), raw->rate, median, stored.trim);
            take.number = stored.number;
            take.trimFile->stored = stored;
            loaded->push_back(std::move(take));
        }
        inSession([this, generation, loaded] {
            if (generation != m_loadGeneration)
                return;
            // Takes made while these were read are on disk too, and so among them.
            m_takes = std::move(*loaded);
            for (Take& take : m_takes)
                take.id = m_nextTakeId++;
            showTakes(m_chosen);
            updateControls();
        });
    });
}

void StudioSession::showTakes(int chosen) {
    // The one chosen stays chosen; otherwise the newest.
    m_chosen = chosen >= 0 && chosen < int(m_takes.size()) ? chosen : int(m_takes.size()) - 1;
    showChosenTake();
}

void StudioSession::chooseTake(int index) {
    if (index == m_chosen || index >= int(m_takes.size()))
        return;
    m_chosen = std::max(index, -1);
    showChosenTake();
    updateControls();
}

QString StudioSession::takeRow(int index) const {
    return takeRowText(m_takes[std::size_t(index)], index);
}

void StudioSession::showChosenTake() {
    if (m_chosen < 0) {
        setText(Text::Figures,
                m_takesOf.isEmpty() ? QString() : QStringLiteral("Inga tagningar av ordet än."));
        setText(Text::Cut, {});
    } else {
        const Take& take = m_takes[std::size_t(m_chosen)];
        setText(Text::Figures, takeFiguresText(take, m_queue.report().medianLufs));
        setText(Text::Cut, takeCutText(take));
    }
    Q_EMIT takesChanged();
}

void StudioSession::listen() {
    if (m_chosen >= 0)
        play(cutClip(m_takes[std::size_t(m_chosen)]), m_takes[std::size_t(m_chosen)].rate);
}

void StudioSession::keep() {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    if (!entry || m_chosen < 0 || m_recorder->isRecording())
        return;
    const int takeId = m_takes[std::size_t(m_chosen)].id;
    const bool clipped = m_takes[std::size_t(m_chosen)].figures.clipped;
    const QString word = entry->word.text;
    if (clipped && m_questions->ask(QStringLiteral("Tagningen av ”%1” är överstyrd och låter "
                                                   "trasig. Behåll den ändå?")
                                        .arg(word),
                                    false) == StudioQuestions::Answer::No) {
        setText(Text::Status, QStringLiteral("Den överstyrda tagningen behölls inte."));
        return;
    }
    if (entry->state != WordState::Missing && !m_replaceAll) {
        const StudioQuestions::Answer answer =
            m_questions->ask(QStringLiteral("”%1” har redan en inspelning (%2, %3). Ersätta den?")
                                 .arg(word, entry->word.foundName, wordStateName(entry->state)),
                             true);
        if (answer == StudioQuestions::Answer::No) {
            setText(Text::Status,
                    QStringLiteral("Inspelningen av ”%1” är kvar som den var.").arg(word));
            return;
        }
        m_replaceAll = answer == StudioQuestions::Answer::YesToAll;
    }
    // The questions may have run a loop of their own: the word and the take may be gone.
    entry = m_queue.currentEntry();
    const auto chosen = std::find_if(m_takes.begin(), m_takes.end(),
                                     [takeId](const Take& t) { return t.id == takeId; });
    if (!entry || entry->word.text != word || chosen == m_takes.end())
        return;
    const QString soundPath = entry->word.soundPath;
    const QByteArray replacing =
        entry->word.match != FileResolver::Match::None ? entry->word.file : QByteArray();
    const double target = targetLoudness(m_queue.report().recordings, replacing);
    auto clip = std::make_shared<std::vector<float>>(cutClip(*chosen));
    const QString savedFile = dataPath(soundPath);
    onDisk([this, soundPath, replacing, target, clip, rate = chosen->rate, savedFile] {
        const QByteArray wav = makeRecording(std::move(*clip), rate, target, StudioSoftware);
        QString why = QStringLiteral("kan inte kodas");
        const bool ok = !wav.isEmpty() && m_saver.save(soundPath, wav, replacing, &why);
        inSession([this, soundPath, ok, why, savedFile] {
            ++m_savesDone;
            if (ok) {
                m_queue.markRecorded(soundPath, QFile::encodeName(savedFile));
                m_undoable = soundPath;
                setText(Text::Status, QStringLiteral("Sparade %1.").arg(soundPath));
                showWords();
            } else {
                setText(Text::Status,
                        QStringLiteral("Kunde inte spara %1: %2").arg(soundPath, why));
            }
            updateControls();
            Q_EMIT saved(soundPath, ok);
        });
    });
    leaveWord();
    stopTake();
    if (m_queue.next())
        showCurrentWord();
    else
        updateControls();
}

void StudioSession::undo() {
    if (m_undoable.isEmpty())
        return;
    const QString soundPath = std::exchange(m_undoable, QString());
    updateControls();
    onDisk([this, soundPath] {
        QString why;
        const bool ok = m_saver.undo(&why);
        inSession([this, soundPath, ok, why] {
            ++m_savesDone;
            setText(Text::Status,
                    ok ? QStringLiteral("Ångrade: %1 är som förut.").arg(soundPath)
                       : QStringLiteral("Kunde inte ångra %1: %2").arg(soundPath, why));
            requestScan();
            Q_EMIT undone(soundPath, ok);
        });
    });
}

void StudioSession::prova() {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    if (!entry || m_recorder->isRecording())
        return;
    auto example = std::make_shared<ExampleSentence>(
        sentenceWith(entry->word, *m_shapes, m_dataDir, m_random));
    if (example->wordSlot < 0 || !beginSentence())
        return;
    m_exampleBefore = QString();
    if (m_chosen < 0) {
        m_speech->SpeakSentence(example->buffer);
        return;
    }
    // The chosen take as it would be saved, where the engine finds it: beside the word's raw
    // takes, under a name that is not a take's.
    const QString relative =
        QStringLiteral("%1/%2/prova.wav")
            .arg(QLatin1String(TakesFolder), TakeStore::wordFolder(entry->word.soundPath));
    example->buffer.SoundFile(example->wordSlot) = core(relative);
    const Take& take = m_takes[std::size_t(m_chosen)];
    auto clip = std::make_shared<std::vector<float>>(cutClip(take));
    const double target = targetLoudness(m_queue.report().recordings, entry->word.file);
    onDisk([this, example, clip, rate = take.rate, target, file = dataPath(relative)] {
        QString why = QStringLiteral("kan inte kodas");
        const QByteArray wav = makeRecording(std::move(*clip), rate, target, StudioSoftware);
        const bool written = !wav.isEmpty() && QDir().mkpath(QFileInfo(file).absolutePath()) &&
                             writeFileAtomically(file, wav, &why);
        inSession([this, example, written, why] {
            if (!written)
                setText(Text::Status, QStringLiteral("Tagningen kunde inte provas: %1").arg(why));
            // Spoken all the same, so Prova is given back: a missing clip is heard as silence.
            m_speech->SpeakSentence(example->buffer);
        });
    });
}

void StudioSession::cutStartEarlier() {
    moveCut(false, -1);
}

void StudioSession::cutStartLater() {
    moveCut(false, 1);
}

void StudioSession::cutEndEarlier() {
    moveCut(true, -1);
}

void StudioSession::cutEndLater() {
    moveCut(true, 1);
}

void StudioSession::moveCut(bool end, int steps) {
    if (m_chosen < 0)
        return;
    const Take& take = m_takes[std::size_t(m_chosen)];
    const auto step = std::max<std::int64_t>(1, std::llround(CutStepSeconds * take.rate));
    const auto frames = std::int64_t(take.raw.size());
    // Within the raw take, and at least a step long: an empty clip cannot be heard or kept.
    TrimPoints cut = take.trim;
    if (end)
        cut.end = std::clamp(cut.end + steps * step, std::min(cut.end, cut.start + step), frames);
    else
        cut.start = std::clamp<std::int64_t>(cut.start + steps * step, 0,
                                             std::max(cut.start, cut.end - step));
    if (cut == take.trim) {
        const int stepMs = int(std::lround(CutStepSeconds * 1000));
        setText(Text::Status,
                steps < 0 && !end ? QStringLiteral("Klippet börjar redan där tagningen börjar.")
                : steps > 0 && end
                    ? QStringLiteral("Klippet slutar redan där tagningen slutar.")
                    : QStringLiteral("Klippet kan inte bli kortare än %1 ms.").arg(stepMs));
        return;
    }
    setCut(cut);
}

void StudioSession::resetCut() {
    if (m_chosen < 0)
        return;
    const Take& take = m_takes[std::size_t(m_chosen)];
    if (take.trim == take.autoTrim) {
        setText(Text::Status, QStringLiteral("Klippet är redan det automatiska."));
        return;
    }
    setCut(take.autoTrim);
}

void StudioSession::setCut(TrimPoints cut) {
    Take& take = m_takes[std::size_t(m_chosen)];
    take.trim = cut;
    // Measuring a take of a second or two is quick enough to follow every key press.
    measureCut(take, m_queue.report().medianLufs);
    storeCut(take);
    showChosenTake();
    setText(Text::Status, QStringLiteral("Lyssna på det nya klippet med P, behåll det med Enter."));
}

void StudioSession::storeCut(const Take& take) {
    const std::shared_ptr<TrimFile> file = take.trimFile;
    {
        const std::lock_guard lock(file->mutex);
        file->waiting = take.trim;
        // A write already on the list takes this cut with it; a take not yet stored gets
        // it right after it is.
        if (file->queued || !file->stored)
            return;
        file->queued = true;
    }
    onDisk([this, file] { writeCut(*file); });
}

void StudioSession::writeCut(TrimFile& file) {
    StoredTake stored;
    TrimPoints cut;
    {
        const std::lock_guard lock(file.mutex);
        file.queued = false;
        if (!file.stored || !file.waiting)
            return;
        stored = *file.stored;
        cut = *std::exchange(file.waiting, std::nullopt);
    }
    QString why;
    if (!m_store.setTrim(stored, cut, &why))
        inSession([this, number = stored.number, why] {
            setText(Text::Status, QStringLiteral("Klippet av tagning %1 kunde inte sparas: %2")
                                      .arg(QString::number(number), why));
        });
}

} // namespace brumlis
