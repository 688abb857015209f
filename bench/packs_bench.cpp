// Packs as the user meets them: the real brumlis-cli packing the bundled voice and installing
// it, and refusing a pack whose one recording unpacks to 1 GiB. What a refused install wrote
// is read from the kernel's count of the bytes the process handed to write() (wchar in
// /proc/<pid>/io), taken once it has ended and before it is reaped.
#include "clirun.h"
#include "goaltable.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace {

constexpr double PackGoalMs = 2000.0;
constexpr double InstallGoalMs = 2000.0;
constexpr double BombWrittenGoalMiB = 65.0;
constexpr zip_uint64_t BombBytes = zip_uint64_t(1) << 30;
constexpr int Runs = 3;

using brumlis::bench::ProgramRun;

// Runs brumlis-cli with `args` and `home` as XDG_DATA_HOME.
ProgramRun runCli(const QStringList& args, const QString& home) {
    return brumlis::bench::runProgram(QByteArray(BRUMLIS_CLI), args,
                                      {{"XDG_DATA_HOME", QFile::encodeName(home)}});
}

ProgramRun medianOf(const std::vector<ProgramRun>& runs) {
    return brumlis::bench::medianOf(runs, &ProgramRun::wallMs);
}

// A recording of zeros, made as it is read, so that the bomb needs no gigabyte of memory.
struct Zeros {
    zip_uint64_t size = 0;
    zip_uint64_t at = 0;
};

zip_int64_t readZeros(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto* zeros = static_cast<Zeros*>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        zeros->at = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const zip_uint64_t n = std::min(length, zeros->size - zeros->at);
        std::memset(data, 0, n);
        zeros->at += n;
        return zip_int64_t(n);
    }
    case ZIP_SOURCE_STAT: {
        auto* stat = static_cast<zip_stat_t*>(data);
        zip_stat_init(stat);
        stat->valid |= ZIP_STAT_SIZE;
        stat->size = zeros->size;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        std::memset(data, 0, length);
        return zip_int64_t(2 * sizeof(int));
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
    default:
        return -1;
    }
}

// A pack with a valid manifest whose one recording unpacks to 1 GiB of zeros (about 1 MiB).
bool writeBomb(const QString& path) {
    static const QByteArray manifest =
        R"({"format":1,"name":"Bomb","language":"sv","speaker":"","licence":"",)"
        R"("created":"2026-01-02","words":0,"recordings":1,"madeByVoice":0})";
    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!zip)
        return false;
    static Zeros zeros{BombBytes, 0};
    zip_source_t* json =
        zip_source_buffer(zip, manifest.constData(), zip_uint64_t(manifest.size()), 0);
    zip_source_t* wav = zip_source_function(zip, readZeros, &zeros);
    const zip_int64_t index = wav ? zip_file_add(zip, "sound/Bomb.wav", wav, 0) : -1;
    if (!json || zip_file_add(zip, "brumlis.json", json, 0) < 0 || index < 0 ||
        zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_DEFLATE, 1) != 0) {
        zip_discard(zip);
        return false;
    }
    return zip_close(zip) == 0;
}

} // namespace

int main() {
    const QString data = QStringLiteral(BRUMLIS_DATA_DIR);
    QTemporaryDir scratch;
    const QString home = scratch.filePath(QStringLiteral("home"));
    const QString pack = scratch.filePath(QStringLiteral("data.brumlis"));
    const qsizetype recordings = QDir(data + QStringLiteral("/sound"))
                                     .entryList({QStringLiteral("*.wav")}, QDir::Files)
                                     .size();

    std::vector<ProgramRun> packs;
    std::vector<ProgramRun> installs;
    for (int i = 0; i < Runs; ++i) {
        packs.push_back(runCli(
            {QStringLiteral("--data"), data, QStringLiteral("pack"), QStringLiteral("-o"), pack},
            home));
        installs.push_back(
            runCli({QStringLiteral("install"), pack, QStringLiteral("--ersätt")}, home));
    }
    const ProgramRun packed = medianOf(packs);
    const ProgramRun installed = medianOf(installs);
    if (packed.status != 0 || installed.status != 0) {
        std::fprintf(stderr, "pack or install failed (status %d, %d)\n", packed.status,
                     installed.status);
        return 1;
    }

    const QString bomb = scratch.filePath(QStringLiteral("bomb.brumlis"));
    const bool bombMade = writeBomb(bomb);
    const ProgramRun refused =
        bombMade ? runCli({QStringLiteral("install"), bomb}, home) : ProgramRun{};
    const bool bombRefused = bombMade && refused.status == 1 &&
                             !QFileInfo::exists(home + QStringLiteral("/brumlis/packs/Bomb"));

    using namespace brumlis::bench;
    constexpr Unit Ms{"ms", 0};
    GoalTable table;
    table.report("recordings in the bundled voice", double(recordings), {});
    table.report("pack file", double(QFileInfo(pack).size()) / (1 << 20), {"MiB", 2});
    table.goal("pack, bundled voice: wall time (median of 3)", packed.wallMs, Ms,
               Goal::atMost(PackGoalMs));
    table.report("pack, bundled voice: CPU time", packed.cpuMs, Ms);
    table.goal("install, bundled voice: wall time (median of 3)", installed.wallMs, Ms,
               Goal::atMost(InstallGoalMs));
    table.report("install, bundled voice: CPU time", installed.cpuMs, Ms);
    table.report("1 GiB bomb: pack file",
                 bombMade ? std::optional(double(QFileInfo(bomb).size()) / (1 << 20))
                          : std::nullopt,
                 {"MiB", 2});
    table.goal("1 GiB bomb: refused, nothing installed", bombRefused ? 1.0 : 0.0, {"", 0},
               Goal::exactly(1));
    table.goal("1 GiB bomb: written before it was refused",
               bombMade ? std::optional(refused.writtenBytes / (1 << 20)) : std::nullopt,
               {"MiB", 2}, Goal::atMost(BombWrittenGoalMiB));
    table.report("1 GiB bomb: wall time to refuse", refused.wallMs, Ms);
    return table.print() ? 0 : 1;
}
