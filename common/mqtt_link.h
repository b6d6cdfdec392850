#pragma once

#include "common/area_state.h"
#include "common/bar_options.h"
#include "common/device_state.h"

#include <QByteArray>
#include <QColor>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

struct mosquitto;
struct mosquitto_message;

// The bar's link to an MQTT broker. libmosquitto's own thread
// (mosquitto_loop_start) does all network work and reconnects with back-off;
// what it receives reaches the GUI thread by queued calls, coalesced to the
// latest message per topic, and what the bar publishes is only queued for that
// thread: the GUI thread never waits on the network.
class MqttLink final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kKeepAliveSeconds = 30;
    static constexpr int kFirstRetrySeconds = 1;
    static constexpr int kMaxRetrySeconds = 30;
    // The library's loop ends for good after a TLS or protocol error: while
    // there is no connection, the client starts over this often.
    static constexpr int kStartOverMs = 60 * 1000;
    static constexpr qint64 kMaxPasswordBytes = 4096;
    // Bounds on what the network can make the bar hold or print.
    static constexpr int kMaxPendingTopics = 256;
    static constexpr int kMaxPayloadBytes = 4096;
    static constexpr int kMaxComplaintTopics = 64;
    static constexpr qint64 kComplaintIntervalMs = qint64{60} * 1000;

    explicit MqttLink(MqttOptions options, QObject *parent = nullptr);
    // A clean exit: "offline" on the status topic, then a disconnect.
    ~MqttLink() override;
    MqttLink(const MqttLink &) = delete;
    MqttLink &operator=(const MqttLink &) = delete;

    const MqttOptions &options() const { return _options; }
    bool connected() const { return _connected; }

    // Connects in the background; any failure is one line, and retried.
    void start();

    // A switch report: <topic>/<switch_topic> "on" or "off", not retained.
    void publish_switch(const QString &switch_topic, bool on);
    // Retained, and published again after every reconnection; an unchanged
    // value is not sent twice.
    void publish_area(int area, const AreaState &state);
    void publish_device(DeviceState state, bool waiting);
    // The switches Home Assistant is told of: topic under <topic> and name.
    void set_switch_topics(const QList<std::pair<QString, QString>> &switches);

    // The pure parts, tested without a broker.
    static QByteArray area_payload(const AreaState &state);
    static std::optional<AreaState> parse_area_payload(const QByteArray &payload);
    static QByteArray device_payload(DeviceState state, bool waiting);
    static std::optional<std::pair<DeviceState, bool>> parse_device_payload(const QByteArray &payload);
    // The area of "<base>/area/<i>" + `suffix`, or nothing.
    static std::optional<int> area_of(const QString &base, const QString &topic, const QString &suffix = {});
    // Home Assistant's discovery messages for a bar at `topic`: (topic, payload), all retained.
    static QList<std::pair<QString, QByteArray>>
    discovery_messages(const QString &topic, const QList<std::pair<QString, QString>> &switches);

signals:
    // "<topic>/area/<i>/set" said "on" or "off" (with accept_remote).
    void remote_set(int area, bool on);
    // The mirrored bar's area, device state and status (with mirror).
    void mirror_area(int area, const AreaState &state);
    void mirror_device(DeviceState state, bool waiting);
    void mirror_online(bool online);

private:
    static void on_connect(mosquitto *mosq, void *self, int rc);
    static void on_disconnect(mosquitto *mosq, void *self, int rc);
    static void on_message(mosquitto *mosq, void *self, const mosquitto_message *message);

    void _connect_in_background();
    void _start_over();
    void _connected_now(int rc);
    void _disconnected_now(int rc);
    void _connect_failed(const QString &reason);
    void _drain();
    void _handle(const QString &topic, const QByteArray &payload);
    void _publish(const QString &topic, const QByteArray &payload, bool retain, int qos = 0);
    void _publish_retained_state();
    void _say(const QString &line) const;
    void _complain(const QString &topic, const QString &expected, const QByteArray &payload);
    QString _where() const;

    MqttOptions _options;
    mosquitto *_mosq = nullptr;
    std::thread _starter; // name lookup and connect, then the library's own loop thread
    bool _loop_started = false;
    std::atomic<bool> _starter_busy = false;
    QTimer _start_over_timer;

    // GUI thread only.
    bool _connected = false;
    bool _ever_connected = false;
    QString _last_failure;               // said once until the next success
    QMap<QString, QByteArray> _retained; // topic → payload, sent again on each connection
    QList<std::pair<QString, QString>> _switch_topics;
    QHash<QString, qint64> _complained; // topic → when its last line was said
    QElapsedTimer _clock;

    // Filled by the network thread, emptied by the GUI thread.
    std::mutex _inbox_lock;
    QMap<QString, QByteArray> _inbox;
    bool _drain_posted = false;
};
