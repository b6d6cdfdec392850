// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

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

#include <memory>
#include <optional>
#include <utility>

// The bar's link to an MQTT broker. One thread of the link's own makes every
// libmosquitto call (name lookup, connect, TLS, the loop, back-off); what it
// receives reaches the GUI thread by queued calls, coalesced to the latest
// message per topic, and what the bar publishes is only queued for it. The
// GUI thread never waits on the network: a link that ends leaves its thread
// to finish alone (a lookup or a connect that hangs cannot be interrupted),
// waiting only a moment for a connected one to say "offline".
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
    // A broker that takes the TCP connection but sends no CONNACK in this time
    // is given up on, and tried again.
    static constexpr int kHandshakeMs = 10 * 1000;
    // How long the end of a connected link waits for "offline" to go out.
    static constexpr int kCloseMs = 500;
    static constexpr qint64 kMaxPasswordBytes = 4096;
    static constexpr qint64 kMaxTlsFileBytes = qint64{1024} * 1024;
    static constexpr int kMaxOutbox = 4096;
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

    // The link's thread and what it shares with the GUI thread (mqtt_link.cpp).
    struct Shared;

signals:
    // "<topic>/area/<i>/set" said "on" or "off" (with accept_remote).
    void remote_set(int area, bool on);
    // The mirrored bar's area, device state and status (with mirror).
    void mirror_area(int area, const AreaState &state);
    void mirror_device(DeviceState state, bool waiting);
    void mirror_online(bool online);

private:
    friend struct Shared;

    void _connected_now();
    void _disconnected_now();
    void _connect_failed(const QString &line);
    void _drain();
    bool _handle_set(const QString &topic, const QByteArray &payload, bool retained);
    void _handle(const QString &topic, const QByteArray &payload, bool retained);
    void _publish(const QString &topic, const QByteArray &payload, bool retain, int qos = 0);
    void _publish_retained_state();
    void _say(const QString &line) const;
    void _complain(const QString &topic, const QString &expected, const QByteArray &payload);
    QString _where() const;

    MqttOptions _options;
    std::shared_ptr<Shared> _shared; // also held by the link's thread, which may outlive this

    // GUI thread only.
    bool _connected = false;
    bool _ever_connected = false;
    QString _last_failure;               // said once until the next success
    QMap<QString, QByteArray> _retained; // topic → payload, sent again on each connection
    QList<std::pair<QString, QString>> _switch_topics;
    QHash<QString, qint64> _complained; // topic → when its last line was said
    QElapsedTimer _clock;
};
