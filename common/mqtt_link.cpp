// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/mqtt_link.h"

#include "common/diagnostics.h"
#include "common/regular_file.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QRegularExpression>

#include <mosquitto.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace {

using Json = nlohmann::ordered_json;

constexpr int kStatusQos = 1;
constexpr int kSubscribeQos = 1;

// The library is set up once per process and never torn down: links come and
// go with every reload.
void init_library()
{
    static const int once = mosquitto_lib_init();
    (void)once;
}

std::string str(const QString &text)
{
    return text.toStdString();
}

constexpr std::array<std::pair<DeviceState, const char *>, 5> kStateNames{{
    {DeviceState::Connected, "connected"},
    {DeviceState::NotConnected, "not_connected"},
    {DeviceState::NoPermission, "no_permission"},
    {DeviceState::Unplugged, "unplugged"},
    {DeviceState::Failed, "failed"},
}};

std::optional<Json> parse_object(const QByteArray &payload)
{
    Json doc = Json::parse(payload.constData(), payload.constData() + payload.size(), nullptr, false);
    if (doc.is_discarded() || !doc.is_object())
        return std::nullopt;
    return doc;
}

} // namespace

// What the link's thread shares with the GUI thread. The thread holds it
// as long as it runs, so a link that ends may leave its thread behind (in a
// lookup or a connect that hangs) without either side touching freed memory.
struct MqttLink::Shared
{
    struct Outgoing
    {
        std::string topic;
        QByteArray payload;
        int qos = 0;
        bool retain = false;
    };
    struct Incoming
    {
        QByteArray payload;
        bool retained = false;
    };
    enum class Retry { Soon, Slowly, Never };

    explicit Shared(MqttOptions link_options, std::string link_password)
        : options(std::move(link_options))
        , password(std::move(link_password))
    {
#ifdef Q_OS_UNIX
        std::array<int, 2> fds{-1, -1};
        if (::pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK) == 0) {
            wake_read = fds[0];
            wake_write = fds[1];
        }
#endif
    }
    ~Shared()
    {
#ifdef Q_OS_UNIX
        if (wake_read >= 0)
            ::close(wake_read);
        if (wake_write >= 0)
            ::close(wake_write);
#endif
    }
    Shared(const Shared &) = delete;
    Shared &operator=(const Shared &) = delete;

    // Set before the thread starts, read-only after.
    const MqttOptions options;
    const std::string password;

    std::mutex lock;
    std::condition_variable changed;
    MqttLink *owner = nullptr; // null once the link has ended
    bool stopping = false;
    bool say_offline = false;
    bool finished = false; // the thread has let go of the network
    std::deque<Outgoing> outbox;
    QMap<QString, Incoming> inbox;
    bool drain_posted = false;
#ifdef Q_OS_UNIX
    int wake_read = -1; // written to whenever the thread has something to do
    int wake_write = -1;
#endif

    // The thread's own.
    mosquitto *mosq = nullptr;
    bool connack = false;  // this connection has had its CONNACK
    int refused = -1;      // the CONNACK code of a refused login
    bool lost = false;     // the library reported the connection gone
    std::string tls_error; // the library's last OpenSSL line

    void run();
    Retry one_connection(int &attempt);
    Retry ended(int rc, int error, const QString &where);
    Retry no_handshake(const QString &where);
    void close_connection();
    int step(int timeout_ms);
    void send_outbox();
    bool stopping_now()
    {
        const std::lock_guard guard(lock);
        return stopping;
    }
    void wake()
    {
#ifdef Q_OS_UNIX
        if (wake_write >= 0) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t written = ::write(wake_write, &byte, 1);
        }
#endif
        changed.notify_all();
    }
    // Runs `call` on the GUI thread with the link, unless it has ended.
    template <typename Call>
    void to_link(Call call)
    {
        const std::lock_guard guard(lock);
        if (!owner)
            return;
        MqttLink *link = owner;
        QMetaObject::invokeMethod(
            link, [link, call = std::move(call)] { call(*link); }, Qt::QueuedConnection);
    }
    void failed(const QString &reason, Retry retry)
    {
        to_link([reason, retry](MqttLink &link) {
            link._connect_failed(retry == Retry::Slowly
                                     ? reason + QStringLiteral("; trying again each minute")
                                     : reason + QStringLiteral("; trying again"));
        });
    }

    static void on_connect(mosquitto *mosq, void *self, int rc);
    static void on_disconnect(mosquitto *mosq, void *self, int rc);
    static void on_message(mosquitto *mosq, void *self, const mosquitto_message *message);
    static void on_log(mosquitto *mosq, void *self, int level, const char *line);
};

MqttLink::MqttLink(MqttOptions options, QObject *parent)
    : QObject(parent)
    , _options(std::move(options))
{
    _clock.start();
}

MqttLink::~MqttLink()
{
    if (!_shared)
        return;
    std::unique_lock guard(_shared->lock);
    _shared->owner = nullptr;
    _shared->stopping = true;
    _shared->say_offline = _connected && _options.publish;
    guard.unlock();
    _shared->wake();
    // Only a connected link is waited for, and only briefly: its "offline"
    // and disconnect are a few bytes on a working connection. Any other
    // state (a lookup, a connect, a back-off) is left to end by itself.
    if (_connected) {
        guard.lock();
        _shared->changed.wait_for(guard, std::chrono::milliseconds(kCloseMs),
                                  [this] { return _shared->finished; });
        guard.unlock();
        _say(QStringLiteral("disconnected from %1").arg(_where()));
    }
}

QString MqttLink::_where() const
{
    return QStringLiteral("%1:%2").arg(diagnostics::printable(_options.host)).arg(_options.port);
}

void MqttLink::_say(const QString &line) const
{
    diagnostics::out(QStringLiteral("QuorvelOlvane: MQTT: ") + line);
}

void MqttLink::start()
{
    if (_shared)
        return;
    init_library();
    QString password;
    if (!_options.password_file.isEmpty()) {
        const regular_file::Read file = regular_file::read(_options.password_file, kMaxPasswordBytes);
        if (!file.bytes) {
            _say(QStringLiteral("not connecting: cannot read the password file: %1")
                     .arg(file.error.isEmpty() ? diagnostics::printable(_options.password_file)
                                                     + QStringLiteral(": no such file")
                                               : file.error));
            return;
        }
        // The first line; the line end an editor adds is not part of it.
        password = QString::fromUtf8(*file.bytes);
        if (const qsizetype end = password.indexOf(u'\n'); end >= 0)
            password.truncate(end);
        if (password.endsWith(u'\r'))
            password.chop(1);
    }
    // The library would open these itself, blocking on a FIFO and reading
    // any size: they are checked here first, as the bar reads its own files.
    for (const QString *tls_file : {&_options.ca_file, &_options.cert_file, &_options.key_file}) {
        if (tls_file->isEmpty())
            continue;
        const regular_file::Read file = regular_file::read(*tls_file, kMaxTlsFileBytes);
        if (!file.bytes) {
            _say(QStringLiteral("not connecting: cannot read the TLS file: %1")
                     .arg(file.error.isEmpty()
                              ? diagnostics::printable(*tls_file) + QStringLiteral(": no such file")
                              : file.error));
            return;
        }
    }

    _shared = std::make_shared<Shared>(_options, str(password));
    _shared->owner = this;
    std::thread([shared = _shared] { shared->run(); }).detach();
}

// ---- the link's thread ---------------------------------------------------

void MqttLink::Shared::run()
{
    const std::string client_id = str(options.client_id);
    mosq = mosquitto_new(client_id.empty() ? nullptr : client_id.c_str(), true, this);
    if (!mosq) {
        to_link([](MqttLink &link) {
            link._say(QStringLiteral("not connecting: the MQTT library could not make a client"));
        });
        return;
    }
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // A press is a few bytes: sent at once, not held back to fill a segment.
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(mosq, &Shared::on_connect);
    mosquitto_disconnect_callback_set(mosq, &Shared::on_disconnect);
    mosquitto_message_callback_set(mosq, &Shared::on_message);
    mosquitto_log_callback_set(mosq, &Shared::on_log);
    if (options.publish) {
        const std::string status = str(options.topic + QStringLiteral("/status"));
        mosquitto_will_set(mosq, status.c_str(), 7, "offline", kStatusQos, true);
    }
    if (!options.username.isEmpty() || !password.empty()) {
        const std::string user = str(options.username);
        mosquitto_username_pw_set(mosq, user.empty() ? nullptr : user.c_str(),
                                  password.empty() ? nullptr : password.c_str());
    }
    bool usable = true;
    if (options.tls()) {
        const std::string ca = str(options.ca_file);
        const std::string cert = str(options.cert_file);
        const std::string key = str(options.key_file);
        const int rc = mosquitto_tls_set(mosq, ca.c_str(), nullptr, cert.empty() ? nullptr : cert.c_str(),
                                         key.empty() ? nullptr : key.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            usable = false;
            const QString line = rc == MOSQ_ERR_NOT_SUPPORTED
                                     ? QStringLiteral("not connecting: this build has no TLS")
                                     : QStringLiteral("not connecting: TLS files not usable (%1): %2")
                                           .arg(diagnostics::printable(options.ca_file),
                                                QString::fromUtf8(mosquitto_strerror(rc)));
            to_link([line](MqttLink &link) { link._say(line); });
        }
    }

    int attempt = 0;
    while (usable && !stopping_now()) {
        const Retry retry = one_connection(attempt);
        if (retry == Retry::Never)
            break;
        // 1, 4, 9, ... seconds, at most kMaxRetrySeconds; a refusal that will
        // not change by itself (TLS, login) once a minute.
        const int seconds = retry == Retry::Slowly
                                ? kStartOverMs / 1000
                                : std::min(kFirstRetrySeconds * attempt * attempt, kMaxRetrySeconds);
        std::unique_lock guard(lock);
        changed.wait_for(guard, std::chrono::seconds(std::max(seconds, kFirstRetrySeconds)),
                         [this] { return stopping; });
    }
    mosquitto_destroy(mosq);
    mosq = nullptr;
    const std::lock_guard guard(lock);
    finished = true;
    changed.notify_all();
}

MqttLink::Shared::Retry MqttLink::Shared::one_connection(int &attempt)
{
    connack = false;
    refused = -1;
    lost = false;
    tls_error.clear();
    {
        const std::lock_guard guard(lock);
        outbox.clear(); // meant for a connection that is gone
    }
    ++attempt;
    // The name lookup blocks here, on this thread only; the TCP connect and
    // the TLS handshake go on in the loop below.
    int rc =
        mosquitto_connect_async(mosq, options.host.toUtf8().constData(), options.port, kKeepAliveSeconds);
    const int error = errno;
    if (stopping_now())
        return Retry::Never;
    const QString where = QStringLiteral("%1:%2").arg(diagnostics::printable(options.host)).arg(options.port);
    // A refused certificate, said at once: the handshake may end within the
    // connect (a broker on this machine) or in the loop.
    const auto tls_failed = [this, &where] {
        mosquitto_disconnect(mosq);
        const QString detail = diagnostics::printable(QString::fromStdString(tls_error));
        failed(QStringLiteral("cannot connect to %1 (%2)")
                   .arg(where, QString::fromStdString(tls_error).contains(QLatin1String("certificate"))
                                   ? QStringLiteral("the broker's certificate was refused: ") + detail
                                   : QStringLiteral("the TLS handshake failed")
                                         + (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail)),
               Retry::Slowly);
        return Retry::Slowly;
    };
    if (rc == MOSQ_ERR_TLS || !tls_error.empty())
        return tls_failed();
    if (rc != MOSQ_ERR_SUCCESS) {
        failed(QStringLiteral("cannot connect to %1 (%2)")
                   .arg(where, rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(error))
                                                    : QString::fromUtf8(mosquitto_strerror(rc))),
               Retry::Soon);
        return Retry::Soon;
    }
    QDeadlineTimer handshake(kHandshakeMs);
    for (;;) {
        if (stopping_now()) {
            close_connection();
            return Retry::Never;
        }
        rc = step(connack ? 1000 : static_cast<int>(std::min<qint64>(handshake.remainingTime(), 1000)));
        const int step_error = errno;
        if (refused >= 0) {
            failed(QStringLiteral("%1 refused the connection: %2")
                       .arg(where, QString::fromUtf8(mosquitto_connack_string(refused))),
                   Retry::Slowly);
            mosquitto_disconnect(mosq);
            return Retry::Slowly;
        }
        if (connack)
            attempt = 0;
        if (rc == MOSQ_ERR_TLS || !tls_error.empty())
            return tls_failed();
        if (rc != MOSQ_ERR_SUCCESS || lost)
            return ended(rc, step_error, where);
        if (!connack && handshake.hasExpired())
            return no_handshake(where);
    }
}

// The connection ended or failed with `rc` from the loop.
MqttLink::Shared::Retry MqttLink::Shared::ended(int rc, int error, const QString &where)
{
    if (connack) {
        to_link([](MqttLink &link) { link._disconnected_now(); });
        return Retry::Soon;
    }
    // The library gives up on these for good: no sooner than a minute.
    const bool lasting = rc == MOSQ_ERR_PROTOCOL || rc == MOSQ_ERR_NOT_SUPPORTED;
    QString reason;
    if (rc == MOSQ_ERR_ERRNO)
        reason = QString::fromLocal8Bit(std::strerror(error));
    else if (lasting)
        reason = QString::fromUtf8(mosquitto_strerror(rc));
    else
        reason = QStringLiteral("the connection was closed");
    const Retry retry = lasting ? Retry::Slowly : Retry::Soon;
    failed(QStringLiteral("cannot connect to %1 (%2)").arg(where, reason), retry);
    return retry;
}

// No CONNACK in kHandshakeMs.
MqttLink::Shared::Retry MqttLink::Shared::no_handshake(const QString &where)
{
    // Whether the CONNECT went out tells a host that drops packets (the TCP
    // connect never completes) from a broker that says nothing.
    const bool accepted = !mosquitto_want_write(mosq);
    mosquitto_disconnect(mosq);
    failed(QStringLiteral("cannot connect to %1 (%2)")
               .arg(where, accepted ? QStringLiteral("the broker did not answer the MQTT handshake")
                                    : QStringLiteral("no answer")),
           Retry::Soon);
    return Retry::Soon;
}

// Says "offline" (when the link was connected and publishes) and
// disconnects, waiting at most kCloseMs for the bytes to go out.
void MqttLink::Shared::close_connection()
{
    bool offline = false;
    {
        const std::lock_guard guard(lock);
        offline = say_offline && connack;
    }
    if (offline) {
        const std::string status = str(options.topic + QStringLiteral("/status"));
        mosquitto_publish(mosq, nullptr, status.c_str(), 7, "offline", kStatusQos, true);
    }
    mosquitto_disconnect(mosq);
    const QDeadlineTimer deadline(kCloseMs);
    while (!lost && !deadline.hasExpired() && step(10) == MOSQ_ERR_SUCCESS) {
    }
}

// One turn of the loop: waits up to `timeout_ms` for the socket or for
// something to send, then lets the library read, write and keep alive.
int MqttLink::Shared::step(int timeout_ms)
{
    send_outbox();
#ifdef Q_OS_UNIX
    const int fd = mosquitto_socket(mosq);
    std::array<pollfd, 2> fds{
        {{fd, static_cast<short>(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0},
         {wake_read, POLLIN, 0}}};
    if (fd >= 0 && ::poll(fds.data(), fds.size(), std::max(timeout_ms, 0)) > 0 && fds[1].revents != 0) {
        std::array<char, 64> bytes{};
        while (::read(wake_read, bytes.data(), bytes.size()) > 0) {
        }
    }
    send_outbox();
    return mosquitto_loop(mosq, 0, 1);
#else
    // No descriptor to wake it with: short turns instead.
    (void)timeout_ms;
    return mosquitto_loop(mosq, 20, 1);
#endif
}

void MqttLink::Shared::send_outbox()
{
    std::deque<Outgoing> batch;
    {
        const std::lock_guard guard(lock);
        batch.swap(outbox);
    }
    if (!connack)
        return;
    for (const Outgoing &message : batch)
        mosquitto_publish(mosq, nullptr, message.topic.c_str(), static_cast<int>(message.payload.size()),
                          message.payload.constData(), message.qos, message.retain);
}

void MqttLink::Shared::on_connect(mosquitto *mosq, void *self, int rc)
{
    auto *shared = static_cast<Shared *>(self);
    if (rc != 0) {
        shared->refused = rc;
        return;
    }
    shared->connack = true;
    // A clean session: subscriptions are made again on every connection.
    if (shared->options.accept_remote) {
        const std::string sets = str(shared->options.topic + QStringLiteral("/area/+/set"));
        mosquitto_subscribe(mosq, nullptr, sets.c_str(), kSubscribeQos);
    }
    if (!shared->options.mirror.isEmpty()) {
        for (const char *suffix : {"/status", "/device", "/area/+"}) {
            const std::string topic = str(shared->options.mirror + QLatin1String(suffix));
            mosquitto_subscribe(mosq, nullptr, topic.c_str(), kSubscribeQos);
        }
    }
    shared->to_link([](MqttLink &link) { link._connected_now(); });
}

void MqttLink::Shared::on_disconnect(mosquitto * /*mosq*/, void *self, int /*rc*/)
{
    static_cast<Shared *>(self)->lost = true;
}

void MqttLink::Shared::on_log(mosquitto * /*mosq*/, void *self, int level, const char *line)
{
    // The only account of why a handshake failed ("certificate verify failed").
    if (level == MOSQ_LOG_ERR && line && std::strstr(line, "OpenSSL Error") != nullptr) {
        std::string text = line;
        if (const std::size_t colon = text.rfind(':'); colon != std::string::npos)
            text = text.substr(colon + 1);
        static_cast<Shared *>(self)->tls_error = text;
    }
}

void MqttLink::Shared::on_message(mosquitto * /*mosq*/, void *self, const mosquitto_message *message)
{
    auto *shared = static_cast<Shared *>(self);
    const QString topic = QString::fromUtf8(message->topic);
    // Only the start of an oversized payload is kept: it is refused anyway.
    const QByteArray payload(static_cast<const char *>(message->payload),
                             std::min(message->payloadlen, kMaxPayloadBytes + 1));
    const std::lock_guard guard(shared->lock);
    // A flood keeps only the latest message per topic: the GUI thread handles
    // one batch per turn of its loop, and repaints in between.
    if (shared->inbox.size() >= kMaxPendingTopics && !shared->inbox.contains(topic))
        return;
    shared->inbox.insert(topic, Incoming{payload, message->retain});
    if (!shared->drain_posted && shared->owner) {
        shared->drain_posted = true;
        MqttLink *link = shared->owner;
        QMetaObject::invokeMethod(
            link, [link] { link->_drain(); }, Qt::QueuedConnection);
    }
}

// ---- the GUI thread --------------------------------------------------------

void MqttLink::_connect_failed(const QString &line)
{
    // One line per outage, however many attempts fail.
    if (!_last_failure.isEmpty())
        return;
    _last_failure = line;
    _say(_last_failure);
}

void MqttLink::_connected_now()
{
    _last_failure.clear();
    _connected = true;
    _say(_ever_connected ? QStringLiteral("connection to %1 is back").arg(_where())
                         : QStringLiteral("connected to %1, topic %2")
                               .arg(_where(), diagnostics::printable(_options.topic)));
    _ever_connected = true;
    _publish_retained_state();
}

void MqttLink::_publish_retained_state()
{
    if (!_connected || !_options.publish)
        return;
    _publish(_options.topic + QStringLiteral("/status"), "online", true, kStatusQos);
    for (auto it = _retained.cbegin(); it != _retained.cend(); ++it)
        _publish(it.key(), it.value(), true);
    if (_options.homeassistant) {
        for (const auto &[topic, payload] : discovery_messages(_options.topic, _switch_topics))
            _publish(topic, payload, true);
    }
}

void MqttLink::_disconnected_now()
{
    if (!_connected)
        return;
    _connected = false;
    _last_failure = QStringLiteral("connection to %1 lost; trying again").arg(_where());
    _say(_last_failure);
}

void MqttLink::_publish(const QString &topic, const QByteArray &payload, bool retain, int qos)
{
    if (!_shared || !_connected)
        return;
    {
        const std::lock_guard guard(_shared->lock);
        // Bounded: retained topics go out again on the next connection anyway.
        if (_shared->outbox.size() >= static_cast<std::size_t>(kMaxOutbox))
            return;
        _shared->outbox.push_back(Shared::Outgoing{str(topic), payload, qos, retain});
    }
    _shared->wake();
}

void MqttLink::publish_switch(const QString &switch_topic, bool on)
{
    if (_options.publish)
        _publish(_options.topic + u'/' + switch_topic, on ? "on" : "off", false);
}

void MqttLink::publish_area(int area, const AreaState &state)
{
    const QString topic = _options.topic + QStringLiteral("/area/%1").arg(area);
    const QByteArray payload = area_payload(state);
    if (_retained.value(topic) == payload)
        return;
    _retained.insert(topic, payload);
    if (_options.publish)
        _publish(topic, payload, true);
}

void MqttLink::publish_device(DeviceState state, bool waiting)
{
    const QString topic = _options.topic + QStringLiteral("/device");
    const QByteArray payload = device_payload(state, waiting);
    if (_retained.value(topic) == payload)
        return;
    _retained.insert(topic, payload);
    if (_options.publish)
        _publish(topic, payload, true);
}

void MqttLink::set_switch_topics(const QList<std::pair<QString, QString>> &switches)
{
    if (switches == _switch_topics)
        return;
    _switch_topics = switches;
    if (_options.homeassistant && _options.publish) {
        for (const auto &[topic, payload] : discovery_messages(_options.topic, _switch_topics))
            _publish(topic, payload, true);
    }
}

void MqttLink::_drain()
{
    if (!_shared)
        return;
    QMap<QString, Shared::Incoming> batch;
    {
        const std::lock_guard guard(_shared->lock);
        batch.swap(_shared->inbox);
        _shared->drain_posted = false;
    }
    for (auto it = batch.cbegin(); it != batch.cend(); ++it)
        _handle(it.key(), it.value().payload, it.value().retained);
}

// Whether `topic` is one of the set topics, which it then handles.
bool MqttLink::_handle_set(const QString &topic, const QByteArray &payload, bool retained)
{
    const QString sets = _options.topic + QStringLiteral("/area/");
    if (_options.accept_remote && topic.startsWith(sets) && topic.endsWith(QStringLiteral("/set"))) {
        // A set is a command, not a state: a retained one would light its area
        // again on every connection, long after a switch darkened it. An empty
        // one only clears what was retained.
        if (retained || payload.isEmpty())
            return true;
        if (const std::optional<int> area = area_of(_options.topic, topic, QStringLiteral("/set"))) {
            if (payload == "on" || payload == "off")
                emit remote_set(*area, payload == "on");
            else
                _complain(topic, QStringLiteral("\"on\" or \"off\""), payload);
        } else {
            _complain(topic, QStringLiteral("a topic <topic>/area/<i>/set with i from 0 to 7"), payload);
        }
        return true;
    }
    return false;
}

void MqttLink::_handle(const QString &topic, const QByteArray &payload, bool retained)
{
    if (_handle_set(topic, payload, retained))
        return;
    if (_options.mirror.isEmpty() || !topic.startsWith(_options.mirror + u'/'))
        return;
    if (topic == _options.mirror + QStringLiteral("/status")) {
        if (payload == "online" || payload == "offline")
            emit mirror_online(payload == "online");
        else if (!payload.isEmpty())
            _complain(topic, QStringLiteral("\"online\" or \"offline\""), payload);
    } else if (topic == _options.mirror + QStringLiteral("/device")) {
        if (const auto device = parse_device_payload(payload))
            emit mirror_device(device->first, device->second);
        else if (!payload.isEmpty())
            _complain(topic, QStringLiteral("a switch box state"), payload);
    } else if (const std::optional<int> area = area_of(_options.mirror, topic)) {
        if (const std::optional<AreaState> state = parse_area_payload(payload))
            emit mirror_area(*area, *state);
        else if (!payload.isEmpty()) // an empty retained message only clears the topic
            _complain(topic, QStringLiteral("an area's state"), payload);
    }
}

// One line per topic and minute, for a bounded number of topics: a flood of
// garbage cannot flood the output.
void MqttLink::_complain(const QString &topic, const QString &expected, const QByteArray &payload)
{
    const qint64 now = _clock.elapsed();
    const auto last = _complained.constFind(topic);
    if (last != _complained.cend() && now - *last < kComplaintIntervalMs)
        return;
    if (last == _complained.cend() && _complained.size() >= kMaxComplaintTopics) {
        _complained.removeIf(
            [now](const auto &entry) { return now - entry.value() >= kComplaintIntervalMs; });
        if (_complained.size() >= kMaxComplaintTopics)
            return;
    }
    _complained.insert(topic, now);
    // Only the start of a larger payload was kept: its size is all there is to say.
    const QString got = payload.size() > kMaxPayloadBytes
                            ? QStringLiteral("more than %1 bytes").arg(kMaxPayloadBytes)
                            : diagnostics::printable(QString::fromUtf8(payload));
    _say(QStringLiteral("ignored a message on %1: expected %2, got %3")
             .arg(diagnostics::printable(topic), expected, got));
}

QByteArray MqttLink::area_payload(const AreaState &state)
{
    Json doc;
    doc["lit"] = state.lit;
    doc["color"] = state.color.isValid() ? str(state.color.name(QColor::HexRgb).toUpper()) : std::string();
    doc["label"] = str(state.label);
    return QByteArray::fromStdString(doc.dump(-1, ' ', false, Json::error_handler_t::replace));
}

std::optional<AreaState> MqttLink::parse_area_payload(const QByteArray &payload)
{
    const std::optional<Json> doc = parse_object(payload);
    if (!doc)
        return std::nullopt;
    const auto lit = doc->find("lit");
    if (lit == doc->end() || !lit->is_boolean())
        return std::nullopt;
    AreaState state;
    state.lit = lit->get<bool>();
    if (const auto color = doc->find("color"); color != doc->end()) {
        if (!color->is_string())
            return std::nullopt;
        state.color = QColor::fromString(QString::fromStdString(color->get<std::string>()));
    }
    if (const auto label = doc->find("label"); label != doc->end()) {
        if (!label->is_string())
            return std::nullopt;
        state.label = QString::fromStdString(label->get<std::string>());
    }
    return state;
}

QByteArray MqttLink::device_payload(DeviceState state, bool waiting)
{
    Json doc;
    for (const auto &[value, name] : kStateNames) {
        if (value == state)
            doc["state"] = name;
    }
    doc["waiting"] = waiting;
    return QByteArray::fromStdString(doc.dump());
}

std::optional<std::pair<DeviceState, bool>> MqttLink::parse_device_payload(const QByteArray &payload)
{
    const std::optional<Json> doc = parse_object(payload);
    if (!doc)
        return std::nullopt;
    const auto state = doc->find("state");
    const auto waiting = doc->find("waiting");
    if (state == doc->end() || !state->is_string())
        return std::nullopt;
    const bool is_waiting = waiting != doc->end() && waiting->is_boolean() && waiting->get<bool>();
    for (const auto &[value, name] : kStateNames) {
        if (state->get<std::string>() == name)
            return std::pair{value, is_waiting};
    }
    return std::nullopt;
}

std::optional<int> MqttLink::area_of(const QString &base, const QString &topic, const QString &suffix)
{
    const QString prefix = base + QStringLiteral("/area/");
    if (!topic.startsWith(prefix) || !topic.endsWith(suffix))
        return std::nullopt;
    const QString number = topic.mid(prefix.size(), topic.size() - prefix.size() - suffix.size());
    if (number.size() != 1 || number.at(0) < u'0' || number.at(0) > u'7')
        return std::nullopt;
    return number.at(0).unicode() - u'0';
}

QList<std::pair<QString, QByteArray>>
MqttLink::discovery_messages(const QString &topic, const QList<std::pair<QString, QString>> &switches)
{
    // Home Assistant's ids take letters, digits, "_" and "-" only; the hash of
    // the whole topic keeps apart topics that differ only in other characters.
    QString node = topic;
    node.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    node += u'_'
            + QString::fromLatin1(
                QCryptographicHash::hash(topic.toUtf8(), QCryptographicHash::Sha256).toHex().left(12));
    const Json device = {{"identifiers", {str(node)}},
                         {"name", str(QStringLiteral("QuorvelOlvane ") + topic)},
                         {"model", "QuorvelOlvane"}};
    const auto common = [&](Json &doc, const QString &name, const QString &id) {
        doc["name"] = str(name);
        doc["unique_id"] = str(node + u'_' + id);
        doc["availability_topic"] = str(topic + QStringLiteral("/status"));
        doc["payload_available"] = "online";
        doc["payload_not_available"] = "offline";
        doc["device"] = device;
    };
    QList<std::pair<QString, QByteArray>> messages;
    for (const auto &[switch_topic, name] : switches) {
        QString id = switch_topic;
        id.replace(u'/', u'_');
        Json doc;
        common(doc, name, id);
        doc["state_topic"] = str(topic + u'/' + switch_topic);
        doc["payload_on"] = "on";
        doc["payload_off"] = "off";
        messages.append({QStringLiteral("homeassistant/binary_sensor/%1/%2/config").arg(node, id),
                         QByteArray::fromStdString(doc.dump())});
    }
    Json box;
    common(box, QStringLiteral("Switch box"), QStringLiteral("device"));
    box["state_topic"] = str(topic + QStringLiteral("/device"));
    box["value_template"] = "{{ value_json.state }}";
    messages.append({QStringLiteral("homeassistant/sensor/%1/device/config").arg(node),
                     QByteArray::fromStdString(box.dump())});
    return messages;
}
