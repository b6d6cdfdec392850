#include "common/mqtt_link.h"

#include "common/diagnostics.h"
#include "common/regular_file.h"

#include <QMetaObject>
#include <QRegularExpression>

#include <mosquitto.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstring>

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

MqttLink::MqttLink(MqttOptions options, QObject *parent)
    : QObject(parent)
    , _options(std::move(options))
{
    _clock.start();
}

MqttLink::~MqttLink()
{
    if (_starter.joinable())
        _starter.join();
    if (!_mosq)
        return;
    if (_connected && _options.publish)
        _publish(_options.topic + QStringLiteral("/status"), "offline", true, kStatusQos);
    // The status above is queued before the disconnect and sent before it.
    mosquitto_disconnect(_mosq);
    if (_loop_started)
        mosquitto_loop_stop(_mosq, false);
    mosquitto_destroy(_mosq);
    if (_connected)
        _say(QStringLiteral("disconnected from %1").arg(_where()));
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
        // One line of text; the line end an editor adds is not part of it.
        password = QString::fromUtf8(*file.bytes);
        while (password.endsWith(u'\n') || password.endsWith(u'\r'))
            password.chop(1);
    }

    const std::string client_id = str(_options.client_id);
    _mosq = mosquitto_new(client_id.empty() ? nullptr : client_id.c_str(), true, this);
    if (!_mosq) {
        _say(QStringLiteral("not connecting: the MQTT library could not make a client"));
        return;
    }
    mosquitto_int_option(_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // A press is a few bytes: sent at once, not held back to fill a segment.
    mosquitto_int_option(_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(_mosq, &MqttLink::on_connect);
    mosquitto_disconnect_callback_set(_mosq, &MqttLink::on_disconnect);
    mosquitto_message_callback_set(_mosq, &MqttLink::on_message);
    mosquitto_reconnect_delay_set(_mosq, kFirstRetrySeconds, kMaxRetrySeconds, true);
    if (_options.publish) {
        const std::string status = str(_options.topic + QStringLiteral("/status"));
        mosquitto_will_set(_mosq, status.c_str(), 7, "offline", kStatusQos, true);
    }
    if (!_options.username.isEmpty() || !password.isEmpty()) {
        const std::string user = str(_options.username);
        const std::string pass = str(password);
        mosquitto_username_pw_set(_mosq, user.empty() ? nullptr : user.c_str(),
                                  pass.empty() ? nullptr : pass.c_str());
    }
    if (_options.tls()) {
        const std::string ca = str(_options.ca_file);
        const std::string cert = str(_options.cert_file);
        const std::string key = str(_options.key_file);
        const int rc = mosquitto_tls_set(_mosq, ca.c_str(), nullptr, cert.empty() ? nullptr : cert.c_str(),
                                         key.empty() ? nullptr : key.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            _say(rc == MOSQ_ERR_NOT_SUPPORTED
                     ? QStringLiteral("not connecting: this build has no TLS")
                     : QStringLiteral("not connecting: TLS files not usable (%1): %2")
                           .arg(diagnostics::printable(_options.ca_file),
                                QString::fromUtf8(mosquitto_strerror(rc))));
            mosquitto_destroy(_mosq);
            _mosq = nullptr;
            return;
        }
    }

    _start_over_timer.setInterval(kStartOverMs);
    connect(&_start_over_timer, &QTimer::timeout, this, &MqttLink::_start_over);
    _start_over_timer.start();
    _connect_in_background();
}

void MqttLink::_connect_in_background()
{
    // Looking the host up may take a while: never on the GUI thread.
    _loop_started = true;
    _starter_busy = true;
    _starter = std::thread([this, host = str(_options.host), port = _options.port] {
        const int rc = mosquitto_connect_async(_mosq, host.c_str(), port, kKeepAliveSeconds);
        if (rc != MOSQ_ERR_SUCCESS) {
            const QString reason = rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno))
                                                        : QString::fromUtf8(mosquitto_strerror(rc));
            QMetaObject::invokeMethod(
                this, [this, reason] { _connect_failed(reason); }, Qt::QueuedConnection);
        }
        // The loop retries a failed first connection as it does a lost one.
        mosquitto_loop_start(_mosq);
        _starter_busy = false;
    });
}

void MqttLink::_start_over()
{
    if (_connected || _starter_busy)
        return; // connected, or still looking the host up
    _connect_failed(QStringLiteral("no answer"));
    if (_starter.joinable())
        _starter.join();
    // A loop still retrying wakes from its wait and ends; one that gave up is gone already.
    mosquitto_disconnect(_mosq);
    mosquitto_loop_stop(_mosq, false);
    _connect_in_background();
}

// Network thread: each callback hands over to the GUI thread.
void MqttLink::on_connect(mosquitto * /*mosq*/, void *self, int rc)
{
    auto *link = static_cast<MqttLink *>(self);
    QMetaObject::invokeMethod(
        link, [link, rc] { link->_connected_now(rc); }, Qt::QueuedConnection);
}

void MqttLink::on_disconnect(mosquitto * /*mosq*/, void *self, int rc)
{
    auto *link = static_cast<MqttLink *>(self);
    QMetaObject::invokeMethod(
        link, [link, rc] { link->_disconnected_now(rc); }, Qt::QueuedConnection);
}

void MqttLink::on_message(mosquitto * /*mosq*/, void *self, const mosquitto_message *message)
{
    auto *link = static_cast<MqttLink *>(self);
    const QString topic = QString::fromUtf8(message->topic);
    // Only the start of an oversized payload is kept: it is refused anyway.
    const QByteArray payload(static_cast<const char *>(message->payload),
                             std::min(message->payloadlen, kMaxPayloadBytes + 1));
    const std::lock_guard lock(link->_inbox_lock);
    // A flood keeps only the latest message per topic: the GUI thread handles
    // one batch per turn of its loop, and repaints in between.
    if (link->_inbox.size() >= kMaxPendingTopics && !link->_inbox.contains(topic))
        return;
    link->_inbox.insert(topic, payload);
    if (!link->_drain_posted) {
        link->_drain_posted = true;
        QMetaObject::invokeMethod(
            link, [link] { link->_drain(); }, Qt::QueuedConnection);
    }
}

void MqttLink::_connect_failed(const QString &reason)
{
    // One line per outage, however many attempts fail.
    if (!_last_failure.isEmpty())
        return;
    _last_failure = QStringLiteral("cannot connect to %1 (%2); trying again").arg(_where(), reason);
    _say(_last_failure);
}

void MqttLink::_connected_now(int rc)
{
    if (rc != 0) {
        const QString line = QStringLiteral("%1 refused the connection: %2")
                                 .arg(_where(), QString::fromUtf8(mosquitto_connack_string(rc)));
        if (line != _last_failure)
            _say(line);
        _last_failure = line;
        return;
    }
    _last_failure.clear();
    _connected = true;
    _say(_ever_connected ? QStringLiteral("connection to %1 is back").arg(_where())
                         : QStringLiteral("connected to %1, topic %2")
                               .arg(_where(), diagnostics::printable(_options.topic)));
    _ever_connected = true;

    // A clean session: subscriptions are made again on every connection.
    if (_options.accept_remote) {
        const std::string sets = str(_options.topic + QStringLiteral("/area/+/set"));
        mosquitto_subscribe(_mosq, nullptr, sets.c_str(), kSubscribeQos);
    }
    if (!_options.mirror.isEmpty()) {
        for (const char *suffix : {"/status", "/device", "/area/+"}) {
            const std::string topic = str(_options.mirror + QLatin1String(suffix));
            mosquitto_subscribe(_mosq, nullptr, topic.c_str(), kSubscribeQos);
        }
    }
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

void MqttLink::_disconnected_now(int rc)
{
    // This side disconnects only as the link ends, when nothing queued here is
    // handled any more: every call is a connection that failed or went away.
    if (_connected) {
        _connected = false;
        _last_failure = QStringLiteral("connection to %1 lost; trying again").arg(_where());
        _say(_last_failure);
        return;
    }
    if (!_last_failure.isEmpty())
        return;
    // The errors after which the library's loop gives up rather than retries:
    // _start_over tries again.
    switch (rc) {
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_PROTOCOL:
    case MOSQ_ERR_NOT_SUPPORTED:
    case MOSQ_ERR_AUTH:
        _last_failure = QStringLiteral("cannot connect to %1 (%2); trying again each minute")
                            .arg(_where(), QString::fromUtf8(mosquitto_strerror(rc)));
        _say(_last_failure);
        return;
    default:
        _connect_failed(rc == MOSQ_ERR_SUCCESS ? QStringLiteral("the connection was closed")
                                               : QString::fromUtf8(mosquitto_strerror(rc)));
    }
}

void MqttLink::_publish(const QString &topic, const QByteArray &payload, bool retain, int qos)
{
    if (!_mosq || !_connected)
        return;
    const std::string name = str(topic);
    mosquitto_publish(_mosq, nullptr, name.c_str(), static_cast<int>(payload.size()), payload.constData(),
                      qos, retain);
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
    QMap<QString, QByteArray> batch;
    {
        const std::lock_guard lock(_inbox_lock);
        batch.swap(_inbox);
        _drain_posted = false;
    }
    for (auto it = batch.cbegin(); it != batch.cend(); ++it)
        _handle(it.key(), it.value());
}

void MqttLink::_handle(const QString &topic, const QByteArray &payload)
{
    if (_options.accept_remote) {
        if (const std::optional<int> area = area_of(_options.topic, topic, QStringLiteral("/set"))) {
            if (payload == "on" || payload == "off")
                emit remote_set(*area, payload == "on");
            else
                _complain(topic, QStringLiteral("\"on\" or \"off\""), payload);
            return;
        }
    }
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
    _say(QStringLiteral("ignored a message on %1: expected %2, got %3")
             .arg(diagnostics::printable(topic), expected,
                  diagnostics::printable(QString::fromUtf8(payload.left(kMaxPayloadBytes)))));
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
    // Home Assistant's ids take letters, digits, "_" and "-" only.
    QString node = topic;
    node.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
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
