#pragma once

#include "brumlis/forms/layout.h"

#include <QByteArray>
#include <QFile>
#include <QPoint>
#include <QPointF>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace brumlis::test {

/// A private X server (Xvfb) on a display it finds free itself, and a connection to it that
/// sees what a person in front of it would: windows appearing, and whatever is drawn on the
/// screen. Its mouse is XTEST's, so a program under test takes its clicks as a person's.
class XDisplay {
public:
    using Clock = std::chrono::steady_clock;

    /// What happened on the screen.
    struct Event {
        enum class Kind { Mapped, Drawn } kind;
        xcb_window_t window = 0; ///< Mapped: the top-level window
        QRect area;              ///< Drawn: where, in screen coordinates
        Clock::time_point at;    ///< when this process learnt of it
    };

    XDisplay() = default;
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;
    ~XDisplay() {
        if (m_connection)
            xcb_disconnect(m_connection);
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            if (!m_server.waitForFinished(3000)) {
                m_server.kill();
                m_server.waitForFinished(3000);
            }
        }
    }

    /// Starts the server and connects to it. False, with the reason, when it cannot.
    bool start(QString* why) {
        int number[2];
        if (::pipe2(number, O_CLOEXEC) != 0) {
            *why = QStringLiteral("pipe: ") + QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        const int writeEnd = number[1];
        m_server.setChildProcessModifier([writeEnd] {
            ::fcntl(writeEnd, F_SETFD, 0); // the one descriptor Xvfb is meant to keep
            // A test that crashes or is killed by its timeout takes the server with it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        });
        m_server.setStandardOutputFile(QProcess::nullDevice());
        m_server.setStandardErrorFile(logFile());
        // -displayfd: Xvfb takes the first free display and names it once it accepts
        // connections, so nothing here guesses a number or waits for a socket to appear.
        m_server.start(QStringLiteral("Xvfb"),
                       {QStringLiteral("-displayfd"), QString::number(writeEnd),
                        QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp")});
        ::close(writeEnd);
        const bool started = m_server.waitForStarted(5000);
        const QByteArray display = started ? readLine(number[0], 10000) : QByteArray();
        ::close(number[0]);
        if (display.isEmpty()) {
            *why = started ? QStringLiteral("Xvfb never named its display: ") + log()
                           : QStringLiteral("Xvfb did not start: ") + m_server.errorString();
            return false;
        }
        m_name = QStringLiteral(":") + QString::fromLatin1(display);
        return connect(why);
    }

    /// ":N", for DISPLAY.
    QString name() const { return m_name; }
    /// What the server said.
    QString log() const {
        QFile file(logFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }
    /// A folder that lives as long as the display, for its programs' messages.
    QString scratch(const QString& name) const { return m_dir.filePath(name); }

    /// The next thing that happens on the screen, or nothing when `deadline` passes first.
    std::optional<Event> next(Clock::time_point deadline) {
        for (;;) {
            while (xcb_generic_event_t* raw = xcb_poll_for_event(m_connection)) {
                const std::optional<Event> event = decode(*raw);
                std::free(raw);
                if (event)
                    return event;
            }
            if (xcb_connection_has_error(m_connection))
                return std::nullopt;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd ready{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            ::poll(&ready, 1, int(left.count()) + 1);
        }
    }

    /// Where `window` is on the screen, and how large.
    std::optional<QRect> frame(xcb_window_t window) {
        xcb_get_geometry_reply_t* size =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        xcb_translate_coordinates_reply_t* place = xcb_translate_coordinates_reply(
            m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr);
        std::optional<QRect> found;
        if (size && place)
            found = QRect(place->dst_x, place->dst_y, size->width, size->height);
        std::free(size);
        std::free(place);
        return found;
    }

    /// The title `window` asks for.
    QString title(xcb_window_t window) {
        xcb_get_property_reply_t* name =
            xcb_get_property_reply(m_connection,
                                   xcb_get_property(m_connection, 0, window, atom("_NET_WM_NAME"),
                                                    atom("UTF8_STRING"), 0, 1024),
                                   nullptr);
        const QString found =
            name ? QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(name)),
                                     xcb_get_property_value_length(name))
                 : QString();
        std::free(name);
        return found;
    }

    /// The pixels of `area` of the screen, as they are now.
    QByteArray picture(const QRect& area) {
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            m_connection,
            xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, std::int16_t(area.x()),
                          std::int16_t(area.y()), std::uint16_t(area.width()),
                          std::uint16_t(area.height()), ~0u),
            nullptr);
        const QByteArray pixels =
            image ? QByteArray(reinterpret_cast<const char*>(xcb_get_image_data(image)),
                               xcb_get_image_data_length(image))
                  : QByteArray();
        std::free(image);
        return pixels;
    }

    /// Moves the mouse to `at` and clicks its left button there; returns once the server has
    /// taken the click.
    void click(QPoint at) {
        xcb_test_fake_input(m_connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root,
                            std::int16_t(at.x()), std::int16_t(at.y()), 0);
        xcb_test_fake_input(m_connection, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(m_connection, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0,
                            0);
        sync();
    }

    /// Asks `window` to close, as a window manager does when its close box is clicked.
    void closeWindow(xcb_window_t window) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = atom("WM_PROTOCOLS");
        message.data.data32[0] = atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&message));
        sync();
    }

private:
    QString logFile() const { return m_dir.filePath(QStringLiteral("xvfb.log")); }

    /// A line from `fd`, without its end; empty when none came within `ms`.
    static QByteArray readLine(int fd, int ms) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
        QByteArray line;
        while (!line.contains('\n')) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return {};
            pollfd ready{fd, POLLIN, 0};
            const int polled = ::poll(&ready, 1, int(left.count()) + 1);
            if (polled < 0 && errno != EINTR)
                return {};
            if (polled <= 0)
                continue;
            char bytes[32];
            const ssize_t n = ::read(fd, bytes, sizeof bytes);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                return {};
            line.append(bytes, n);
        }
        return line.trimmed();
    }

    bool connect(QString* why) {
        m_connection = xcb_connect(m_name.toLatin1().constData(), nullptr);
        if (xcb_connection_has_error(m_connection)) {
            *why = QStringLiteral("cannot connect to ") + m_name;
            return false;
        }
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const xcb_query_extension_reply_t* damage =
            xcb_get_extension_data(m_connection, &xcb_damage_id);
        const xcb_query_extension_reply_t* xtest =
            xcb_get_extension_data(m_connection, &xcb_test_id);
        if (!damage || !damage->present || !xtest || !xtest->present) {
            *why = QStringLiteral("Xvfb lacks DAMAGE or XTEST");
            return false;
        }
        m_damageNotify = std::uint8_t(damage->first_event + XCB_DAMAGE_NOTIFY);
        std::free(xcb_damage_query_version_reply(
            m_connection, xcb_damage_query_version(m_connection, 1, 1), nullptr));
        // Without a window manager a top-level window is the root's child: the root hears
        // it being mapped. What is drawn in any window is drawn on the root's screen, so one
        // damage object on the root sees every drawing, from the first one on: one made on
        // the window once it is known could miss a program that draws quickly.
        const std::uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &events);
        xcb_damage_create(m_connection, xcb_generate_id(m_connection), m_root,
                          XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        sync();
        return true;
    }

    std::optional<Event> decode(const xcb_generic_event_t& raw) const {
        const std::uint8_t type = raw.response_type & 0x7f;
        if (type == XCB_MAP_NOTIFY) {
            const auto& map = reinterpret_cast<const xcb_map_notify_event_t&>(raw);
            if (map.event == m_root)
                return Event{Event::Kind::Mapped, map.window, {}, Clock::now()};
        } else if (type == m_damageNotify) {
            const auto& damage = reinterpret_cast<const xcb_damage_notify_event_t&>(raw);
            return Event{Event::Kind::Drawn, 0,
                         QRect(damage.area.x, damage.area.y, damage.area.width, damage.area.height),
                         Clock::now()};
        }
        return std::nullopt;
    }

    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, std::uint16_t(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return found;
    }

    /// A round trip: everything sent before has been carried out.
    void sync() {
        std::free(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_name;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    std::uint8_t m_damageNotify = 0;
};

/// The real window program, started in `dataDir` on `display`, and watched come up as a
/// person sees it: its window appears (mapped), then shows something (its first drawing).
class WindowProcess {
public:
    using Clock = XDisplay::Clock;

    WindowProcess(XDisplay& display, const QString& program, const QString& dataDir)
        : m_display(display) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display.name());
        // Without a session bus of its own the program would have libdbus start one through
        // X (dbus-launch), from Qt's accessibility bridge and from SDL at once; that bus would
        // outlive the test, and a forked child of a sanitized program can hang before it
        // execs, holding libdbus's lock. A test that wants a bus sets it up and says where.
        if (!env.contains(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")))
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + display.scratch(QStringLiteral("no-bus")));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(dataDir);
        // Into a file: nobody reads a pipe while the window runs.
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(display.scratch(QStringLiteral("window.log")));
        const Clock::time_point started = Clock::now();
        m_process.start(program, {});
        if (!m_process.waitForStarted(5000))
            return;
        // Far longer than it takes: only a program that never shows its window reaches it.
        const Clock::time_point deadline = started + std::chrono::seconds(20);
        while (const std::optional<XDisplay::Event> e = display.next(deadline)) {
            if (e->kind == XDisplay::Event::Kind::Mapped && !m_window) {
                m_window = e->window;
                m_mappedMs = msBetween(started, e->at);
                m_frame = display.frame(m_window).value_or(QRect());
            } else if (e->kind == XDisplay::Event::Kind::Drawn && m_window &&
                       e->area.intersects(m_frame)) {
                m_paintedMs = msBetween(started, e->at);
                return;
            }
        }
    }
    ~WindowProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    WindowProcess(const WindowProcess&) = delete;
    WindowProcess& operator=(const WindowProcess&) = delete;

    /// Whether the window came up and drew itself.
    bool painted() const { return m_paintedMs.has_value(); }
    /// Milliseconds from starting the program to its window being mapped, and to the first
    /// drawing in it.
    std::optional<double> mappedMs() const { return m_mappedMs; }
    std::optional<double> paintedMs() const { return m_paintedMs; }
    /// Where the window is on the screen.
    QRect frame() const { return m_frame; }
    qint64 pid() const { return m_process.processId(); }
    /// What the program wrote on its standard error.
    QString log() const {
        QFile file(m_display.scratch(QStringLiteral("window.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

    /// Its window, as the X server knows it.
    xcb_window_t window() const { return m_window; }
    /// Where `place`, in the form's layout, is on the screen.
    QRect onScreen(const QRect& place) const {
        // Qt scales the layout on a denser screen; the window's width says by how much.
        const double scale = double(m_frame.width()) / layout::MainWindow.width();
        const QRectF scaled(QPointF(place.topLeft()) * scale, QSizeF(place.size()) * scale);
        return scaled.toRect().translated(m_frame.topLeft());
    }
    /// The pixels of `place`, in the form's layout, as they are now.
    QByteArray picture(const QRect& place) { return m_display.picture(onScreen(place)); }
    /// Until the pixels of `place` differ from `before`, looked at again whenever something
    /// is drawn there: at most `ms`. Whether they came to differ.
    bool untilChanged(const QRect& place, const QByteArray& before, int ms) {
        const QRect area = onScreen(place);
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
        if (m_display.picture(area) != before)
            return true;
        while (const std::optional<XDisplay::Event> e = m_display.next(deadline))
            if (e->kind == XDisplay::Event::Kind::Drawn && e->area.intersects(area) &&
                m_display.picture(area) != before)
                return true;
        return false;
    }

    /// Clicks Generera with the mouse. False when there is no window to click in.
    bool generate() {
        if (!painted())
            return false;
        m_display.click(onScreen(layout::GenerateButton).center());
        return true;
    }
    /// Closes the window with its close box: the milliseconds until the program had ended,
    /// or nothing when it still ran 10 s later.
    std::optional<double> close() {
        const Clock::time_point closing = Clock::now();
        if (m_window)
            m_display.closeWindow(m_window);
        else
            m_process.terminate();
        if (!m_process.waitForFinished(10000))
            return std::nullopt;
        return msBetween(closing, Clock::now());
    }
    /// Once it has ended: whether it ended by returning from main(), and with what.
    bool endedNormally() const {
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

private:
    static double msBetween(Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double, std::milli>(to - from).count();
    }

    XDisplay& m_display;
    QProcess m_process;
    xcb_window_t m_window = 0;
    QRect m_frame;
    std::optional<double> m_mappedMs;
    std::optional<double> m_paintedMs;
};

} // namespace brumlis::test
