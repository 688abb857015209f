#include "soundserverconnection.h"

#include <algorithm>
#include <vector>

namespace brumlis {

std::shared_ptr<SoundServerConnection> makeSoundServerConnection(SoundServerClient client) {
    return std::make_shared<SoundServerConnection>(std::move(client));
}

SoundServerConnection::SoundServerConnection(SoundServerClient client)
    : m_client(std::move(client))
    , m_loop(pa_threaded_mainloop_new()) {}

SoundServerConnection::~SoundServerConnection() {
    if (!m_loop)
        return;
    // The loop's thread waits only in poll(), never on the server, so this join is quick
    // even with the server frozen.
    if (m_running)
        pa_threaded_mainloop_stop(m_loop);
    if (m_retry)
        pa_threaded_mainloop_get_api(m_loop)->time_free(m_retry);
    dropContext();
    pa_threaded_mainloop_free(m_loop);
}

SoundServerConnection::Lock::Lock(const SoundServerConnection& connection)
    : m_loop(connection.m_loop) {
    pa_threaded_mainloop_lock(m_loop);
}

SoundServerConnection::Lock::~Lock() {
    pa_threaded_mainloop_unlock(m_loop);
}

void SoundServerConnection::want() {
    if (!m_loop)
        return;
    Lock lock(*this);
    // Started with the first want: a program that never plays or records (its --help)
    // never has the thread.
    if (!m_running) {
        m_running = pa_threaded_mainloop_start(m_loop) == 0;
        if (!m_running) {
            m_why = QStringLiteral("ljudservern: tråden för anslutningen startar inte");
            return;
        }
    }
    ++m_wanted;
    if (!m_context)
        connect();
}

void SoundServerConnection::unwant() {
    if (!m_loop)
        return;
    Lock lock(*this);
    if (--m_wanted > 0 || !m_retry)
        return;
    pa_threaded_mainloop_get_api(m_loop)->time_free(m_retry);
    m_retry = nullptr;
}

bool SoundServerConnection::waitReady(std::chrono::milliseconds limit, QString* why) {
    const bool settled = waitFor([this] { return m_ready || !m_connecting; }, limit);
    Lock lock(*this);
    if (m_ready)
        return true;
    if (why)
        *why = settled ? m_why : QStringLiteral("ljudservern svarar inte");
    return false;
}

QString SoundServerConnection::error(const char* what) const {
    const int error = m_context ? pa_context_errno(m_context) : PA_ERR_UNKNOWN;
    return QStringLiteral("ljudservern %1: %2").arg(QString::fromUtf8(what), errorText(error));
}

QString SoundServerConnection::errorText(int error) {
    // libpulse's own texts are English.
    switch (error) {
    case PA_ERR_ACCESS:
        return QStringLiteral("åtkomst nekas");
    case PA_ERR_CONNECTIONREFUSED:
        return QStringLiteral("ingen ljudserver tar emot anslutningar");
    case PA_ERR_CONNECTIONTERMINATED:
        return QStringLiteral("anslutningen bröts");
    case PA_ERR_TIMEOUT:
        return QStringLiteral("inget svar i tid");
    case PA_ERR_INVALIDSERVER:
        return QStringLiteral("ogiltig serveradress");
    case PA_ERR_NOENTITY:
        return QStringLiteral("enheten finns inte");
    case PA_ERR_NOTSUPPORTED:
        return QStringLiteral("stöds inte av servern");
    case PA_ERR_KILLED:
        return QStringLiteral("servern stängdes av");
    case PA_ERR_BUSY:
        return QStringLiteral("enheten är upptagen");
    case PA_ERR_VERSION:
        return QStringLiteral("servern talar en annan version av protokollet");
    default:
        return QStringLiteral("fel %1 från ljudservern").arg(error);
    }
}

int SoundServerConnection::watch(Watcher watcher) {
    Lock lock(*this);
    const int key = m_nextKey++;
    m_watchers.emplace_back(key, std::move(watcher));
    return key;
}

void SoundServerConnection::unwatch(int key) {
    Lock lock(*this);
    m_watchers.remove_if([key](const auto& entry) { return entry.first == key; });
}

void SoundServerConnection::signal() {
    std::lock_guard lock(m_waitMutex);
    m_changed.notify_all();
}

void SoundServerConnection::connect() {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    if (m_retry) {
        api->time_free(m_retry);
        m_retry = nullptr;
    }
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, m_client.name.constData());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, m_client.id.constData());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, m_client.icon.constData());
    m_context = pa_context_new_with_proplist(api, m_client.name.constData(), properties);
    pa_proplist_free(properties);
    if (!m_context) {
        m_why = QStringLiteral("ljudservern: minnet räcker inte för en anslutning");
        signal();
        return;
    }
    m_connecting = true;
    pa_context_set_state_callback(m_context, &SoundServerConnection::contextChanged, this);
    // No autospawn: a server started by us would be one nobody else plays to or records
    // from.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        m_errno = pa_context_errno(m_context);
        m_why = error("kan inte anslutas");
        tell(false);
        dropContext();
        signal();
        scheduleRetry();
    }
}

void SoundServerConnection::dropContext() {
    m_ready = false;
    m_connecting = false;
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void SoundServerConnection::scheduleRetry() {
    if (m_wanted <= 0 || m_retry)
        return;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    timeval at;
    pa_timeval_add(pa_gettimeofday(&at),
                   pa_usec_t(std::chrono::microseconds(m_retryAfter).count()));
    m_retry = api->time_new(api, &at, &SoundServerConnection::retryDue, this);
    m_retryAfter = std::min(2 * m_retryAfter, LongestRetry);
}

void SoundServerConnection::retryDue(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                     void* self) {
    auto& c = *static_cast<SoundServerConnection*>(self);
    api->time_free(event);
    c.m_retry = nullptr;
    if (c.m_wanted > 0 && !c.m_context)
        c.connect();
}

void SoundServerConnection::contextChanged(pa_context* context, void* self) {
    auto& c = *static_cast<SoundServerConnection*>(self);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        c.m_ready = true;
        c.m_connecting = false;
        c.m_retryAfter = FirstRetry;
        c.m_why.clear();
        c.tell(true);
        c.signal();
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: {
        const bool wasReady = c.m_ready;
        c.m_errno = wasReady ? PA_ERR_CONNECTIONTERMINATED : pa_context_errno(context);
        c.m_why = wasReady ? QStringLiteral("ljudservern försvann") : c.error("kan inte anslutas");
        c.m_ready = false;
        // The streams let go of theirs before the context goes.
        c.tell(false);
        c.dropContext();
        c.signal();
        c.scheduleRetry();
        break;
    }
    default:
        break;
    }
}

void SoundServerConnection::tell(bool up) {
    // A watcher may drop another while being told; each is looked up again before its turn.
    std::vector<int> keys;
    for (const auto& entry : m_watchers)
        keys.push_back(entry.first);
    for (const int key : keys) {
        const auto it = std::find_if(m_watchers.begin(), m_watchers.end(),
                                     [key](const auto& entry) { return entry.first == key; });
        if (it != m_watchers.end())
            it->second(up);
    }
}

} // namespace brumlis
