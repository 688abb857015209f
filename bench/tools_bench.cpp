// brumlis-cli's tools for vocabulary and voice makers, measured as the user runs them: the
// real program in its own process, its CPU time taken from the kernel (the machine may be
// busy with other work, which stretches the wall-clock time but not the CPU time). And how
// clips cut at half of full scale join in a rendered sentence: every clip is faded in and
// out as it is converted, for render as for speaking.
#include "clirun.h"
#include "goaltable.h"
#include "support/levelclip.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sndfile.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double CheckGoalMs = 1000.0;
constexpr double StepGoalPercent = 2.0; // of full scale
constexpr int Runs = 5;

using brumlis::bench::ProgramRun;

// Runs brumlis-cli with `args`.
ProgramRun runCli(const QStringList& args) {
    return brumlis::bench::runProgram(QByteArray(BRUMLIS_CLI), args);
}

ProgramRun medianOf(const std::vector<ProgramRun>& runs) {
    return brumlis::bench::medianOf(runs, &ProgramRun::cpuMs);
}

struct Joins {
    double largestStep = 0; // between consecutive samples, of full scale
    long long inserted = 0; // frames beyond the clips' own
};

// A sentence of template 10 whose every recording holds +50 % or -50 % of full scale in
// every sample, at the rates old packs use, rendered at 48 kHz.
std::optional<Joins> renderedJoins(const QString& folder) {
    const char* lists[][2] = {{"namn", "Kalle"},        {"adj", "glad"}, {"sub_reale", "bil"},
                              {"verb_pre", "springer"}, {"prep", "i"},   {"plats", "skogen"}};
    QDir().mkpath(folder + QStringLiteral("/text"));
    QDir().mkpath(folder + QStringLiteral("/sound"));
    for (const auto& [list, word] : lists) {
        QFile file(folder + QStringLiteral("/text/%1.txt").arg(QLatin1String(list)));
        if (!file.open(QIODevice::WriteOnly))
            return std::nullopt;
        file.write(QByteArray(word) + '\n');
    }
    const char* words[] = {"Kalle", "har_en", "glad", "bil", "som", "springer", "i", "skogen"};
    const int rates[] = {8000, 11025, 22050, 44100, 48000, 16000, 32000, 22050};
    double expected = 0;
    for (int i = 0; i < 8; ++i) {
        const long frames = rates[i] / 3;
        if (!brumlis::test::writeLevelClip(
                folder + QStringLiteral("/sound/%1.wav").arg(QString::fromUtf8(words[i])),
                SF_FORMAT_PCM_16, rates[i], 1, frames, i % 2 ? -0.5f : 0.5f))
            return std::nullopt;
        expected += double(frames) * 48000 / rates[i];
    }
    const QString out = folder + QStringLiteral("/sentence.wav");
    if (runCli({QStringLiteral("--data"), folder, QStringLiteral("render"),
                QStringLiteral("--mall"), QStringLiteral("10"), QStringLiteral("-o"), out})
            .status != 0)
        return std::nullopt;
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(out).constData(), SFM_READ, &info);
    if (!file)
        return std::nullopt;
    std::vector<short> samples(std::size_t(info.frames * info.channels));
    sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    Joins j;
    int largest = 0;
    for (std::size_t i = std::size_t(info.channels); i < samples.size(); ++i)
        largest = std::max(largest, std::abs(samples[i] - samples[i - std::size_t(info.channels)]));
    j.largestStep = largest / 32768.0;
    j.inserted = std::llround(double(info.frames) - expected);
    return j;
}

} // namespace

int main() {
    const QString data = QStringLiteral(BRUMLIS_DATA_DIR);

    std::vector<ProgramRun> checks;
    for (int i = 0; i < Runs; ++i)
        checks.push_back(runCli({QStringLiteral("--data"), data, QStringLiteral("check")}));
    const ProgramRun check = medianOf(checks);
    if (check.status != 0) {
        std::fprintf(stderr, "brumlis-cli check failed on the bundled folder (status %d)\n",
                     check.status);
        return 1;
    }

    // Every bundled word made anew in a scratch copy of the lists.
    QTemporaryDir scratch;
    QDir().mkpath(scratch.filePath(QStringLiteral("text")));
    for (const QString& name : QDir(data + QStringLiteral("/text")).entryList(QDir::Files))
        QFile::copy(data + QStringLiteral("/text/") + name,
                    scratch.filePath(QStringLiteral("text/") + name));
    const ProgramRun voice =
        runCli({QStringLiteral("--data"), scratch.path(), QStringLiteral("voice")});
    const qsizetype words = QDir(scratch.filePath(QStringLiteral("sound")))
                                .entryList({QStringLiteral("*.wav")}, QDir::Files)
                                .size();
    if (voice.status != 0 || words == 0) {
        std::fprintf(stderr, "brumlis-cli voice failed (status %d, %lld files)\n", voice.status,
                     (long long)words);
        return 1;
    }

    std::vector<ProgramRun> renders;
    for (int i = 0; i < Runs; ++i)
        renders.push_back(runCli(
            {QStringLiteral("--data"), data, QStringLiteral("render"), QStringLiteral("--frö"),
             QString::number(i), QStringLiteral("--mall"), QStringLiteral("10"),
             QStringLiteral("-o"), scratch.filePath(QStringLiteral("sentence.wav"))}));
    const ProgramRun render = medianOf(renders);

    using namespace brumlis::bench;
    constexpr Unit Ms{"ms", 2};
    GoalTable table;
    table.goal("check, bundled folder: CPU time (median of 5)", check.cpuMs, Ms,
               Goal::atMost(CheckGoalMs));
    table.report("check, bundled folder: wall time", check.wallMs, Ms);
    table.report("voice, per word: CPU time", voice.cpuMs / double(words), Ms);
    table.report("voice, per word: wall time", voice.wallMs / double(words), Ms);
    table.report("voice: words made", double(words), {});
    table.report("render, 8-word sentence: CPU time (median)", render.cpuMs, Ms);
    table.report("render, 8-word sentence: wall time", render.wallMs, Ms);

    const std::optional<Joins> joins = renderedJoins(scratch.filePath(QStringLiteral("edges")));
    table.goal("largest step between samples, clips at +-50 %",
               joins ? std::optional(100 * joins->largestStep) : std::nullopt, {"%", 2},
               Goal::atMost(StepGoalPercent));
    // Each of the eight clips may gain or lose a frame in conversion.
    table.goal("frames added to the clips",
               joins ? std::optional(double(joins->inserted)) : std::nullopt, {"fr", 0},
               Goal::near(0, 8));
    return table.print() ? 0 : 1;
}
