#pragma once

#include <QColor>
#include <QList>
#include <QMap>
#include <QString>

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

// The opt-in settings of config.json, read, checked and defaulted in one
// place; with none of them in the file every member keeps its default and the
// bar behaves as it always did.
struct BarOptions
{
    using Json = nlohmann::ordered_json;

    static constexpr int kMaxSwitchNumber = 255; // one byte of the report
    static inline const QString kPrimaryScreen = QStringLiteral("primary");

    DeviceOptions device;
    QString screen = kPrimaryScreen; // "bar" → "screen"
    bool remember_geometry = false;  // "bar" → "remember_geometry"
    bool tray = false;               // "bar" → "tray"
    bool click_through = false;      // "bar" → "click_through"
    QList<AreaOptions> areas;        // "areas" → key → "label", "label_color"
    QMap<int, int> switches;         // "switches": switch number → area index

    friend bool operator==(const BarOptions &, const BarOptions &) = default;

    // Reads the options from a parsed config.json; `path` names the file in
    // errors. Throws ConfigError: "<file>: <member>: expected <what>, got <value>".
    static BarOptions from_json(const Json &doc, const QString &path);
};
