#include "benchkit.h"
#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/playback/audioengine.h"
#include "playback_bench.h"
#include "support/playerevents.h"

#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace brumlis::bench {

namespace {

long kib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

} // namespace

// A process of its own, so that its peak is not the parent's.
int streamChild(const char* dataDir, const char* word) {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    ::setenv("SDL_DISKAUDIODELAY", "0", 1); // as fast as the engine can feed it
    auto engine = createSystemPlayer(dataDir);
    const long before = kib("VmRSS:");
    const Clock::time_point start = Clock::now();
    test::PlayerEvents events(*engine);
    engine->speak(1, {u"sound/" + core(QString::fromUtf8(word)) + u".wav"});
    events.untilAllHeard();
    const double seconds = ms(Clock::now() - start) / 1000.0;
    std::printf("%ld %ld %.2f\n", before, kib("VmHWM:"), seconds);
    return 0;
}

std::optional<StreamFigures> measureStreaming(const QString& dataDir, const char* word) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        std::exit(1);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::execl("/proc/self/exe", "bench-playback", "--stream",
                QFile::encodeName(dataDir).constData(), word, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buf[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
        out.append(buf, std::size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    StreamFigures f;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(out.c_str(), "%ld %ld %lf", &f.rssBeforeKiB, &f.peakKiB, &f.seconds) != 3)
        return std::nullopt;
    return f;
}

} // namespace brumlis::bench
