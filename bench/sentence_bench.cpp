// Picking a word, composing a sentence and finding a recording, measured against the
// time a click may take. Every figure is CPU time.
#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/composer.h"
#include "brumlis/sentence/fileresolver.h"
#include "brumlis/sentence/messagesink.h"
#include "brumlis/sentence/random.h"
#include "brumlis/sentence/wordlist.h"
#include "goals.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace brumlis;

class NoMessages final : public MessageSink {
public:
    void show(const std::u16string& message) override {
        qFatal("unexpected message: %s", qPrintable(qt(message)));
    }
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Lists of the sizes and encodings a user may hand over: short words in plain ASCII,
// Windows-1252 and UTF-16, a list that is mostly UTF-8 with stray Windows-1252 lines,
// and lists at the 16 MiB limit.
class ListFolder {
public:
    ListFolder() {
        QDir(m_dir.path()).mkpath("text");
        for (const int size : {10, 32767, 1'000'000}) {
            QByteArray list;
            list.reserve(qsizetype(size) * 12);
            for (int i = 0; i < size; ++i)
                list += "ord" + QByteArray::number(i) + "\r\n";
            write(QStringLiteral("lista%1").arg(size), list);
        }
        QString swedish;
        QByteArray mixed;
        for (int i = 0; i < 32767; ++i) {
            swedish += QStringLiteral("G\u00f6ran%1\r\n").arg(i);
            mixed += i % 100 ? "G\xc3\xb6ran" + QByteArray::number(i) + "\n"
                             : "G\xf6ran" + QByteArray::number(i) + "\n";
        }
        write("cp1252", QStringEncoder(QStringEncoder::Latin1)(swedish)); // ö is F6 in both
        write("utf16", "\xff\xfe" + QStringEncoder(QStringEncoder::Utf16LE)(swedish));
        write("blandad", mixed);

        QByteArray shortLines;
        while (shortLines.size() + 3 <= MaxListBytes)
            shortLines += "ab\n";
        write("kort", shortLines);
        write("en rad", QByteArray(MaxListBytes, 'x'));
        QByteArray cp1252Lines;
        while (cp1252Lines.size() + 7 <= MaxListBytes)
            cp1252Lines += "G\xf6ran\r\n";
        write("cp1252 16 MiB", cp1252Lines);
        QByteArray utf16Lines = "\xff\xfe";
        while (utf16Lines.size() + 12 <= MaxListBytes)
            utf16Lines += QByteArray("G\0\xf6\0r\0a\0n\0\n\0", 12);
        write("utf16 16 MiB", utf16Lines);
    }
    QString path() const { return m_dir.path(); }

private:
    void write(const QString& name, const QByteArray& bytes) {
        writeFile(m_dir.filePath("text/" + name + ".txt"), bytes);
    }
    QTemporaryDir m_dir;
};

const ListFolder& lists() {
    static const ListFolder folder;
    return folder;
}

void pickFrom(benchmark::State& state, const QString& category) {
    NoMessages messages;
    MersenneRandom random(1);
    SentenceComposer composer(corePath(lists().path()), messages, random);
    SentenceBuffer buffer;
    for (auto _ : state) {
        composer.PickWord(buffer, core(category));
        benchmark::DoNotOptimize(buffer.PickedWord.data());
    }
}

void pick(benchmark::State& state) {
    pickFrom(state, QStringLiteral("lista%1").arg(state.range(0)));
}
BENCHMARK(pick)
    ->Name("pick from items")
    ->Arg(10)
    ->Arg(32767)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(pickFrom, cp1252, QStringLiteral("cp1252"))
    ->Name("pick from 32767 items/Windows-1252")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pickFrom, utf16, QStringLiteral("utf16"))
    ->Name("pick from 32767 items/UTF-16")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pickFrom, mixed, QStringLiteral("blandad"))
    ->Name("pick from 32767 items/UTF-8, 1% Windows-1252")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pickFrom, short, QStringLiteral("kort"))
    ->Name("pick, 16 MiB/5.6 M short lines")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pickFrom, line, QStringLiteral("en rad"))
    ->Name("pick, 16 MiB/one line")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pickFrom, cp1252big, QStringLiteral("cp1252 16 MiB"))
    ->Name("pick, 16 MiB/Windows-1252")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pickFrom, utf16big, QStringLiteral("utf16 16 MiB"))
    ->Name("pick, 16 MiB/UTF-16")
    ->Unit(benchmark::kMillisecond);

void composeBundled(benchmark::State& state) {
    NoMessages messages;
    MersenneRandom random;
    SystemClock clock;
    SentenceComposer composer(BRUMLIS_DATA_DIR, messages, random, &clock);
    SentenceBuffer buffer;
    for (auto _ : state) {
        composer.compose(buffer);
        benchmark::DoNotOptimize(buffer.WordText(0).data());
    }
}
BENCHMARK(composeBundled)->Name("compose/bundled lists")->Unit(benchmark::kMillisecond);

// The bundled lists with a mallar.txt of 1,000 shapes, each giving 15 parts, a choice in each.
class ShapeFolder {
public:
    ShapeFolder() {
        const QDir bundled(QStringLiteral(BRUMLIS_DATA_DIR "/text"));
        QDir(m_dir.path()).mkpath("text");
        for (const QString& list : bundled.entryList(QDir::Files))
            if (!QFile::copy(bundled.filePath(list), m_dir.filePath("text/" + list)))
                qFatal("cannot copy %s", qPrintable(list));
        QByteArray shapes = "# 1,000 shapes of 15 parts\n";
        for (int i = 0; i < 1000; ++i)
            shapes += QByteArray::number(i % 7 + 1) +
                      ": [namn] \"tycker att\" ([namn] | \"du\") \"är\" [adj] \"och\" [namn] "
                      "\"har en\" [adj] [sub_reale] \"som\" [verb_pre] [prep] [plats] \"nu\"\n";
        writeFile(m_dir.filePath("mallar.txt"), shapes);
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

void composeShapes(benchmark::State& state) {
    static const ShapeFolder folder;
    NoMessages messages;
    MersenneRandom random;
    SystemClock clock;
    SentenceComposer composer(corePath(folder.path()), messages, random, &clock);
    SentenceBuffer buffer;
    for (auto _ : state) {
        composer.compose(buffer);
        benchmark::DoNotOptimize(buffer.WordText(0).data());
    }
    if (buffer.SlotsUsed != 15)
        qFatal("a shape gave %d parts", buffer.SlotsUsed);
}
BENCHMARK(composeShapes)->Name("compose/1,000 shapes of 15 parts")->Unit(benchmark::kMillisecond);

// A voice of 100,000 recordings.
class VoiceFolder {
public:
    static constexpr int Files = 100'000;
    VoiceFolder() {
        const QByteArray sound = QFile::encodeName(m_dir.path()) + "/sound/";
        QDir(m_dir.path()).mkpath("sound");
        for (int i = 0; i < Files; ++i) {
            const QByteArray name = sound + "ord" + QByteArray::number(i) + ".wav";
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd < 0)
                qFatal("cannot create %s", name.constData());
            ::close(fd);
        }
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

void lookup(benchmark::State& state, const QString& word) {
    static const VoiceFolder voice;
    const FileResolver resolver(corePath(voice.path()));
    resolver.prepare(); // the first lookup, which reads the folder, is not what is timed
    int i = 0;
    for (auto _ : state) {
        const std::u16string path =
            core(QStringLiteral("sound\\") + word.arg(i++ % VoiceFolder::Files) +
                 QStringLiteral(".wav"));
        benchmark::DoNotOptimize(resolver.find(path));
    }
}
BENCHMARK_CAPTURE(lookup, absent, QStringLiteral("Saknas%1"))
    ->Name("recording not in 100,000 files/after the first")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(lookup, byCase, QStringLiteral("ORD%1"))
    ->Name("recording by case in 100,000 files/after the first")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(lookup, exact, QStringLiteral("ord%1"))
    ->Name("recording by exact name in 100,000 files")
    ->Unit(benchmark::kMillisecond);

void firstLookup(benchmark::State& state) {
    static const VoiceFolder voice;
    for (auto _ : state) {
        const FileResolver resolver(corePath(voice.path()));
        benchmark::DoNotOptimize(resolver.find(u"sound\\Saknas.wav"));
    }
}
BENCHMARK(firstLookup)
    ->Name("first lookup in 100,000 files (reads the folder)")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // A Generera must not keep the window from repainting for more than 0.5 s, and one
    // sentence reads the same list at most twice (namn, in the "tycker att" templates):
    // a pick from a list at the size limit gets half of that. bench-forms times the click.
    constexpr double LimitListPickMs = 500.0 / 2;
    brumlis::bench::GoalReporter reporter({
        {"pick from items/32767", 1.0},
        {"pick from items/1000000", 30.0},
        {"pick from 32767 items/Windows-1252", 2.0},
        {"pick from 32767 items/UTF-16", 2.0},
        {"pick from 32767 items/UTF-8, 1% Windows-1252", 2.0},
        {"pick, 16 MiB/5.6 M short lines", LimitListPickMs},
        {"pick, 16 MiB/one line", LimitListPickMs},
        {"pick, 16 MiB/Windows-1252", LimitListPickMs},
        {"pick, 16 MiB/UTF-16", LimitListPickMs},
        {"compose/bundled lists", 0.2},
        {"recording not in 100,000 files/after the first", 1.0},
        {"recording by case in 100,000 files/after the first", 1.0},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    brumlis::bench::GoalTable table = reporter.table();
    // The folder's own shapes are read at every Generera: what they add to one.
    const auto with = reporter.measuredMs("compose/1,000 shapes of 15 parts");
    const auto without = reporter.measuredMs("compose/bundled lists");
    table.goal("compose/1,000 shapes of 15 parts, more than without",
               with && without ? std::optional<double>(*with - *without) : std::nullopt, {"ms", 4},
               brumlis::bench::Goal::atMost(2.0));
    return table.print() ? 0 : 1;
}
