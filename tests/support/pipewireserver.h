#pragma once

#include "support/soundserver.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <array>
#include <csignal>
#include <cstdint>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brumlis::test {

/// One program of a server, in a process group of its own, so that it and whatever it
/// might start can be stopped, continued and ended together. Its output goes to a log file.
/// Every program of a server is this process's own child: only a parent hears when its
/// child stops or ends, and can reap it.
class ServerProcess {
public:
    ServerProcess() {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setChildProcessModifier([] {
            ::setpgid(0, 0);
            // A test that crashes or is killed by its timeout takes the server with it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        });
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess() { stop(); }

    /// `extra`: variables this program gets on top of this process's environment.
    bool start(const QString& program, const QStringList& arguments, const QString& log,
               QString* why, const QProcessEnvironment& extra = {}) {
        m_log = log;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(extra);
        m_process.setProcessEnvironment(env);
        // Into a file: nobody reads a pipe while a test speaks, and a server whose pipe
        // fills up stops dead in its next log line.
        m_process.setStandardOutputFile(log);
        m_process.start(program, arguments);
        if (!m_process.waitForStarted(5000)) {
            *why = QStringLiteral("%1 did not start: %2").arg(program, m_process.errorString());
            return false;
        }
        m_group = m_process.processId();
        return true;
    }
    /// Started, and ended without being asked to.
    bool ended() const { return m_group != 0 && m_process.state() == QProcess::NotRunning; }
    QString exitReason() const {
        return m_process.exitStatus() == QProcess::CrashExit
                   ? QStringLiteral("was killed")
                   : QStringLiteral("exited with %1").arg(m_process.exitCode());
    }
    qint64 pid() const { return m_group; }
    QString logFile() const { return m_log; }
    QByteArray log() const {
        QFile file(m_log);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void signal(int signal) const {
        if (m_group != 0)
            ::kill(-pid_t(m_group), signal);
    }

    /// Ends the group, also when it is frozen, and returns once the program has been reaped.
    void stop() {
        if (m_group == 0)
            return;
        signal(SIGCONT); // a stopped process acts on SIGTERM only once continued
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            signal(SIGKILL);
            m_process.waitForFinished(3000);
        }
        // Whatever outlived the program would never end by itself.
        signal(SIGKILL);
        m_group = 0;
    }

private:
    QProcess m_process;
    QString m_log;
    qint64 m_group = 0;
};

/// A private PipeWire with one null sink, WirePlumber to link streams to it, and
/// pipewire-pulse on a socket in a temporary folder, so that clients of both protocols
/// reach it: PulseAudio ones through PULSE_SERVER, native ones through
/// XDG_RUNTIME_DIR/pipewire-0. No ALSA, no D-Bus session of the user (WirePlumber gets a
/// bus of its own), and none of the user's or the system's configuration: only the stock
/// files of Debian's packages and what is written here. While it lives, this process's
/// environment points at it.
class PipeWireServer : public SoundServer {
public:
    static constexpr const char* Sink = "brumlis_test";

    explicit PipeWireServer(SdlDriver driver = SdlDriver::PulseAudio) {
        const QString dir = m_dir.path();
        QDir(dir).mkpath(QStringLiteral("run"));
        // 0700, as XDG_RUNTIME_DIR must be: nothing else guards the sockets in it.
        QFile::setPermissions(dir + QStringLiteral("/run"), QFileDevice::ReadOwner |
                                                                QFileDevice::WriteOwner |
                                                                QFileDevice::ExeOwner);
        QFile conf(dir + QStringLiteral("/client.conf"));
        if (conf.open(QIODevice::WriteOnly))
            conf.write("autospawn = no\n");
        conf.close();
        m_env.set("HOME", dir);
        m_env.set("XDG_RUNTIME_DIR", dir + QStringLiteral("/run"));
        m_env.set("XDG_CONFIG_HOME", dir + QStringLiteral("/config"));
        m_env.set("XDG_DATA_HOME", dir + QStringLiteral("/data"));
        m_env.set("XDG_STATE_HOME", dir + QStringLiteral("/state"));
        m_env.set("XDG_CACHE_HOME", dir + QStringLiteral("/cache"));
        // Each replaces every other folder these look in, /etc among them.
        m_env.set("PIPEWIRE_CONFIG_DIR", pipewireConfigDir());
        m_env.set("WIREPLUMBER_CONFIG_DIR", dir + QStringLiteral("/wireplumber"));
        m_env.set("WIREPLUMBER_DATA_DIR", QLatin1String(WirePlumberStock));
        // Set by a desktop session, these would lead native clients to its server.
        m_env.unset("PIPEWIRE_REMOTE");
        m_env.unset("PIPEWIRE_RUNTIME_DIR");
        m_env.unset("DBUS_SESSION_BUS_ADDRESS");
        m_env.set("PULSE_RUNTIME_PATH", dir + QStringLiteral("/run/pulse"));
        m_env.set("PULSE_STATE_PATH", dir + QStringLiteral("/state/pulse"));
        m_env.set("PULSE_CLIENTCONFIG", dir + QStringLiteral("/client.conf"));
        m_env.set("PULSE_SERVER", QStringLiteral("unix:") + pulseSocket());
        setSdlDriver(driver);
    }
    ~PipeWireServer() override {
        PipeWireServer::stopCapture();
        PipeWireServer::stop();
    }

    /// Which SDL backend SDL_Init picks in this process and in programs started from it.
    void setSdlDriver(SdlDriver driver) {
        m_driver = driver;
        m_env.set("SDL_AUDIODRIVER", QLatin1String(sdlDriverName(driver)));
    }
    SdlDriver sdlDriver() const { return m_driver; }

    QString name() const override {
        return QStringLiteral("PipeWire (SDL %1)").arg(QLatin1String(sdlDriverName(m_driver)));
    }
    QString pulseSocket() const { return m_dir.filePath(QStringLiteral("pulse.sock")); }
    QString nativeSocket() const { return m_dir.filePath(QStringLiteral("run/pipewire-0")); }
    QString busSocket() const { return m_dir.filePath(QStringLiteral("bus")); }
    QString captureFile() const override { return m_dir.filePath(QStringLiteral("capture.raw")); }
    QByteArray serverLog() const override {
        return "--- pipewire ---\n" + m_pipewire.log() + "--- dbus-daemon ---\n" + m_bus.log() +
               "--- wireplumber ---\n" + m_wireplumber.log() + "--- pipewire-pulse ---\n" +
               m_pulse.log();
    }

    bool start(QString* why) override {
        stop();
        QFile::remove(nativeSocket());
        QFile::remove(nativeSocket() + QStringLiteral(".lock"));
        QFile::remove(pulseSocket());
        QFile::remove(busSocket());
        if (!writeConfig(why))
            return false;
        if (!m_pipewire.start(
                QStringLiteral("pipewire"),
                {QStringLiteral("-c"), pipewireConfigDir() + QStringLiteral("/pipewire.conf")},
                m_dir.filePath(QStringLiteral("pipewire.log")), why))
            return false;
        // WirePlumber gives up at once when there is no PipeWire to connect to.
        if (!waitFor(
                m_dir.filePath(QStringLiteral("run")), Wakeups::FolderChanges,
                [this] { return QFileInfo::exists(nativeSocket()); }, 5000)) {
            fail(QStringLiteral("pipewire never made its socket"), why);
            return false;
        }
        // WirePlumber 0.4 exits without a session bus; this one is its own, not the user's.
        // The bus prints its address once it takes connections.
        const QString busAddress = QStringLiteral("unix:path=") + busSocket();
        if (!m_bus.start(QStringLiteral("dbus-daemon"),
                         {QStringLiteral("--session"), QStringLiteral("--nofork"),
                          QStringLiteral("--nopidfile"), QStringLiteral("--address=") + busAddress,
                          QStringLiteral("--print-address=1")},
                         m_dir.filePath(QStringLiteral("dbus-daemon.log")), why))
            return false;
        if (!waitFor(
                m_bus.logFile(), Wakeups::Written,
                [&] { return m_bus.log().contains(busAddress.toLocal8Bit()); }, 5000)) {
            fail(QStringLiteral("the bus never said it was there"), why);
            return false;
        }
        QProcessEnvironment bus;
        bus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        if (!m_wireplumber.start(QStringLiteral("wireplumber"), {},
                                 m_dir.filePath(QStringLiteral("wireplumber.log")), why, bus))
            return false;
        if (!m_pulse.start(QStringLiteral("pipewire-pulse"),
                           {QStringLiteral("-c"),
                            pipewireConfigDir() + QStringLiteral("/pipewire-pulse.conf")},
                           m_dir.filePath(QStringLiteral("pipewire-pulse.log")), why))
            return false;
        // pipewire-pulse may answer before WirePlumber has taken up the sink, and until
        // it has, nothing links a new stream to it: ready only when both hold. pw-metadata
        // tells every change of the default sink as it happens (line by line through
        // stdbuf: into a file, its output would otherwise wait for its end).
        const QString said = m_dir.filePath(QStringLiteral("pw-metadata.out"));
        QProcess metadata;
        metadata.setStandardOutputFile(said);
        metadata.setStandardErrorFile(QProcess::nullDevice());
        metadata.start(QStringLiteral("stdbuf"),
                       {QStringLiteral("-oL"), QStringLiteral("pw-metadata"), QStringLiteral("-m"),
                        QStringLiteral("-n"), QStringLiteral("default"), QStringLiteral("0"),
                        QStringLiteral("default.audio.sink")});
        const auto sinkSaid = [&] {
            QFile file(said);
            return file.open(QIODevice::ReadOnly) &&
                   file.readAll().contains(QByteArray("\"name\":\"") + Sink + '"');
        };
        const bool sinkTaken =
            metadata.waitForStarted(5000) &&
            waitFor(said, Wakeups::Written, sinkSaid, 10000, metadata.processId());
        metadata.kill();
        metadata.waitForFinished(3000);
        if (!sinkTaken) {
            fail(QStringLiteral("WirePlumber never made %1 the default sink")
                     .arg(QLatin1String(Sink)),
                 why);
            return false;
        }
        if (!waitFor(
                m_dir.path(), Wakeups::FolderChanges,
                [this] { return QFileInfo::exists(pulseSocket()); }, 5000) ||
            !run(QStringLiteral("pactl"), {QStringLiteral("info")})) {
            fail(QStringLiteral("pactl info never answered"), why);
            return false;
        }
        return true;
    }
    void stop() override {
        // Clients first, PipeWire last: each goes while what it talks to is still there.
        m_pulse.stop();
        m_wireplumber.stop();
        m_bus.stop();
        m_pipewire.stop();
    }
    void freeze() override {
        for (const ServerProcess* p : programs())
            p->signal(SIGSTOP);
    }
    void thaw() override {
        for (const ServerProcess* p : programs())
            p->signal(SIGCONT);
    }

    bool startCapture() override {
        return m_capture.start(QStringLiteral("%1.monitor").arg(QLatin1String(Sink)),
                               captureFile());
    }
    std::vector<float> stopCapture() override { return m_capture.stop(); }

private:
    static constexpr const char* PipeWireStock = "/usr/share/pipewire";
    static constexpr const char* WirePlumberStock = "/usr/share/wireplumber";

    QString pipewireConfigDir() const { return m_dir.filePath(QStringLiteral("pipewire")); }

    bool writeConfig(QString* why) const {
        const QString pw = pipewireConfigDir();
        const QString wp = m_dir.filePath(QStringLiteral("wireplumber"));
        QDir().mkpath(pw);
        QDir().mkpath(wp);
        // Every native client, pw-metadata and SDL among them, needs these to connect.
        for (const char* name : {"client.conf", "client-rt.conf"})
            if (!copyOnce(QLatin1String(PipeWireStock) + '/' + QLatin1String(name),
                          pw + '/' + QLatin1String(name), why))
                return false;
        // WirePlumber's stock files, and a fragment that runs after their settings (50-*)
        // and before 90-enable-all.lua acts on them: no devices to look for.
        QDirIterator stock(QLatin1String(WirePlumberStock), {QStringLiteral("*.conf")},
                           QDir::Files);
        while (stock.hasNext()) {
            stock.next();
            if (!copyOnce(stock.filePath(), wp + '/' + stock.fileName(), why))
                return false;
        }
        for (const char* part : {"main.lua.d", "policy.lua.d", "bluetooth.lua.d"}) {
            const QString from = QLatin1String(WirePlumberStock) + '/' + QLatin1String(part);
            const QString to = wp + '/' + QLatin1String(part);
            QDir().mkpath(to);
            const QStringList files = QDir(from).entryList({QStringLiteral("*.lua")}, QDir::Files);
            if (files.isEmpty()) {
                *why = QStringLiteral("no WirePlumber configuration in ") + from;
                return false;
            }
            for (const QString& file : files)
                if (!copyOnce(from + '/' + file, to + '/' + file, why))
                    return false;
        }
        return write(wp + QStringLiteral("/main.lua.d/80-brumlis-headless.lua"),
                     "alsa_monitor.enabled = false\n"
                     "v4l2_monitor.enabled = false\n"
                     "libcamera_monitor.enabled = false\n",
                     why) &&
               write(wp + QStringLiteral("/bluetooth.lua.d/80-brumlis-headless.lua"),
                     "bluez_monitor.enabled = false\n", why) &&
               write(pw + QStringLiteral("/pipewire.conf"), pipewireConf(), why) &&
               write(pw + QStringLiteral("/pipewire-pulse.conf"), pulseConf(), why);
    }

    static QByteArray pipewireConf() {
        return QByteArray(R"(context.properties = {
    core.daemon = true
    core.name = pipewire-0
    link.max-buffers = 16
    default.clock.rate = 48000
    default.clock.allowed-rates = [ 48000 ]
    support.dbus = false
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-access args = { } }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
        args = {
            factory.name    = support.node.driver
            node.name       = Dummy-Driver
            node.group      = pipewire.dummy
            priority.driver = 20000
        }
    }
    { factory = spa-node-factory
        args = {
            factory.name    = support.node.driver
            node.name       = Freewheel-Driver
            priority.driver = 19000
            node.group      = pipewire.freewheel
            node.freewheel  = true
        }
    }
    { factory = adapter
        args = {
            factory.name     = support.null-audio-sink
            node.name        = )") +
               Sink + R"(
            node.description = "Brumlis test sink"
            media.class      = Audio/Sink
            audio.rate       = 48000
            audio.channels   = 2
            audio.position   = [ FL FR ]
            monitor.channel-volumes = true
            object.linger    = true
        }
    }
]
)";
    }

    QByteArray pulseConf() const {
        return R"(context.properties = {
    support.dbus = false
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse args = { } }
]
pulse.properties = {
    server.address = [ "unix:)" +
               QFile::encodeName(pulseSocket()) + R"(" ]
}
)";
    }

    static bool copyOnce(const QString& from, const QString& to, QString* why) {
        if (QFileInfo::exists(to) || QFile::copy(from, to))
            return true;
        *why = QStringLiteral("cannot copy %1 to %2").arg(from, to);
        return false;
    }
    static bool write(const QString& path, const QByteArray& text, QString* why) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            file.write(text) == text.size())
            return true;
        *why = QStringLiteral("cannot write ") + path;
        return false;
    }

    /// Runs a short command against the server; a hung one is killed after a bound.
    static bool run(const QString& program, const QStringList& arguments,
                    QByteArray* output = nullptr) {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(3000))
            return false;
        if (output)
            *output = process.readAllStandardOutput();
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    std::array<const ServerProcess*, 4> programs() const {
        return {&m_pipewire, &m_bus, &m_wireplumber, &m_pulse};
    }

    /// Until `ready` holds, looked at again whenever `path` changes as `mask` says, for at
    /// most `ms`, or until a program of the server (or `helper`) ended.
    template <typename Ready>
    bool waitFor(const QString& path, std::uint32_t mask, Ready ready, int ms,
                 qint64 helper = 0) const {
        Wakeups wake;
        wake.onChange(path, mask);
        for (const ServerProcess* p : programs())
            if (p->pid() != 0)
                wake.onEnd(p->pid());
        if (helper != 0)
            wake.onEnd(helper);
        return wake.until(ready, ms);
    }

    void fail(const QString& what, QString* why) {
        *why = what;
        const std::pair<const ServerProcess*, const char*> named[] = {
            {&m_pipewire, "pipewire"},
            {&m_bus, "dbus-daemon"},
            {&m_wireplumber, "wireplumber"},
            {&m_pulse, "pipewire-pulse"}};
        for (const auto& [process, name] : named)
            if (process->ended())
                *why += QStringLiteral("; %1 %2").arg(QLatin1String(name), process->exitReason());
        *why += QStringLiteral("\n") + QString::fromLocal8Bit(serverLog());
        stop();
    }

    QTemporaryDir m_dir;
    EnvironmentOverride m_env;
    SdlDriver m_driver = SdlDriver::PulseAudio;
    ServerProcess m_pipewire;
    ServerProcess m_bus;
    ServerProcess m_wireplumber;
    ServerProcess m_pulse;
    MonitorCapture m_capture;
};

} // namespace brumlis::test
