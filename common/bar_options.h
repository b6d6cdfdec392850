// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QColor>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <optional>

// Which switch box to read and what to do when it fails.
struct DeviceOptions
{
    static constexpr int kDefaultVendorId = 0x2E8A;
    static constexpr int kDefaultProductId = 0x000A;

    int vendor_id = kDefaultVendorId;
    int product_id = kDefaultProductId;
    bool reconnect = false;  // keep trying to open the box after a failure
    bool show_state = false; // say on the bar why no box is connected
    // Which one of several boxes with these ids: empty matches any.
    QString serial; // its serial number
    QString port;   // the USB port chain it is plugged into, as the bar reports it
    // In "devices" only: what the bar calls the box, and its own switch map
    // (absent: the top-level "switches", or the built-in table).
    QString name;
    std::optional<QMap<int, int>> switches;

    // Opens one particular box rather than the first with the ids.
    bool chooses_box() const { return !serial.isEmpty() || !port.isEmpty(); }
    // The same box, read the same way: what a running reader must be remade for.
    bool same_box(const DeviceOptions &other) const
    {
        return vendor_id == other.vendor_id && product_id == other.product_id && reconnect == other.reconnect
               && serial == other.serial && port == other.port;
    }

    friend bool operator==(const DeviceOptions &, const DeviceOptions &) = default;
};

// The text shown in one area: one per "areas" entry whose key names an area,
// in file order.
struct AreaOptions
{
    int index = 0;
    std::optional<QString> label;      // no label when absent
    std::optional<QColor> label_color; // chosen for contrast when absent

    friend bool operator==(const AreaOptions &, const AreaOptions &) = default;
};

// "mqtt": the bar's link to an MQTT broker. Paths are already resolved
// against the config file's folder.
struct MqttOptions
{
    static constexpr int kDefaultPort = 1883;
    static constexpr int kDefaultTlsPort = 8883;

    QString host = QStringLiteral("localhost");
    int port = kDefaultPort; // kDefaultTlsPort when "tls" is given and "port" is not
    QString topic;           // the base topic; "quorvel-olvane/<host name>" by default
    QString client_id;       // empty: the library makes one up
    QString username;        // empty: none
    QString password_file;   // read at each connection, never kept in the options
    QString ca_file;         // "tls" → "ca_file": TLS is on when this is set
    QString cert_file;       // "tls" → "cert_file", "key_file": a client certificate
    QString key_file;
    bool publish = true;
    bool accept_remote = false;
    QString mirror; // another bar's base topic to show, or empty
    bool homeassistant = false;

    bool tls() const { return !ca_file.isEmpty(); }

    friend bool operator==(const MqttOptions &, const MqttOptions &) = default;
};

// What one switch starts: an argument list, the program first, for its press
// and for its release; an empty list starts nothing.
struct SwitchCommand
{
    QStringList on;
    QStringList off;

    friend bool operator==(const SwitchCommand &, const SwitchCommand &) = default;
};

// The opt-in settings of config.json, read, checked and defaulted in one
// place; with none of them in the file every member keeps its default and the
// bar behaves as it always did.
struct BarOptions
{
    using Json = nlohmann::ordered_json;

    static constexpr int kMaxSwitchNumber = 255; // one byte of the report
    static constexpr int kMaxDevices = 16;       // far more boxes than USB ports on a desk
    static inline const QString kPrimaryScreen = QStringLiteral("primary");
    static constexpr int kDefaultHeight = 80;
    static constexpr int kMinHeight = 40; // the window's own minimum
    static constexpr int kMaxHeight = 1000;

    DeviceOptions device;
    QList<DeviceOptions> devices;    // "devices": several boxes at once, in file order
    QString screen = kPrimaryScreen; // "bar" → "screen"
    bool remember_geometry = false;  // "bar" → "remember_geometry"
    bool tray = false;               // "bar" → "tray"
    bool click_through = false;      // "bar" → "click_through"
    bool settings_in_menu = false;   // "bar" → "settings_in_menu": 設定… in the bar's own menu
    int height = kDefaultHeight;     // "bar" → "height", in pixels
    // "bar" → "compositor_ipc": float and place the bar over the IPC of a
    // tiling compositor found in the environment (sway, Hyprland, Wayfire)
    bool compositor_ipc = true;
    QList<AreaOptions> areas;        // "areas" → key → "label", "label_color"
    QMap<int, int> switches;         // "switches": switch number → area index
    std::optional<MqttOptions> mqtt; // "mqtt": no connection at all when absent
    // "commands": switch number → what its press and release start
    QMap<int, SwitchCommand> commands;

    friend bool operator==(const BarOptions &, const BarOptions &) = default;

    // The boxes to read: the "devices" list, or the one "device".
    QList<DeviceOptions> boxes() const { return devices.isEmpty() ? QList<DeviceOptions>{device} : devices; }
    // The boxes this bar reads itself: none while it mirrors another bar.
    QList<DeviceOptions> boxes_to_read() const
    {
        return mqtt && !mqtt->mirror.isEmpty() ? QList<DeviceOptions>{} : boxes();
    }

    // Reads the options from a parsed config.json; `path` names the file in
    // errors. Throws ConfigError: "<file>: <member>: expected <what>, got <value>".
    static BarOptions from_json(const Json &doc, const QString &path);
};
