// Picking a word and composing a sentence, measured against the time a click may take.
#include "goals.h"
#include "sentence/composer.h"
#include "sentence/messagesink.h"
#include "sentence/random.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

using namespace brumlis;

class NoMessages final : public MessageSink {
public:
    void show(const QString& message) override {
        qFatal("unexpected message: %s", qPrintable(message));
    }
};

// A data folder with one list per size, filled with words of a realistic length.
class ListFolder {
public:
    ListFolder() {
        QDir(m_dir.path()).mkpath("text");
        for (const int size : {10, 32767, 1'000'000}) {
            QByteArray list;
            list.reserve(qsizetype(size) * 12);
            for (int i = 0; i < size; ++i)
                list += "ord" + QByteArray::number(i) + "\r\n";
            QFile file(m_dir.filePath(QStringLiteral("text/lista%1.txt").arg(size)));
            if (!file.open(QIODevice::WriteOnly) || file.write(list) != list.size())
                qFatal("cannot write the benchmark lists");
        }
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

void pick(benchmark::State& state) {
    static const ListFolder folder;
    NoMessages messages;
    MersenneRandom random(1);
    SentenceComposer composer(folder.path(), messages, random);
    SentenceBuffer buffer;
    const QString category = QStringLiteral("lista%1").arg(state.range(0));
    for (auto _ : state) {
        composer.PickWord(buffer, category);
        benchmark::DoNotOptimize(buffer.PickedWord.data());
    }
}
BENCHMARK(pick)
    ->Name("pick from items")
    ->Arg(10)
    ->Arg(32767)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

void composeBundled(benchmark::State& state) {
    NoMessages messages;
    MersenneRandom random;
    SystemClock clock;
    SentenceComposer composer(QStringLiteral(BRUMLIS_DATA_DIR), messages, random, &clock);
    SentenceBuffer buffer;
    for (auto _ : state) {
        composer.compose(buffer);
        benchmark::DoNotOptimize(buffer.WordText(0).data());
    }
}
BENCHMARK(composeBundled)->Name("compose/bundled lists")->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    brumlis::bench::GoalReporter reporter({
        {"pick from items/32767", 1.0},
        {"pick from items/1000000", 30.0},
        {"compose/bundled lists", 0.2},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printTable();
    return 0;
}
