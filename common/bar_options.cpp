// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/bar_options.h"

#include "common/bar_config.h"
#include "common/config_error.h"
#include "common/diagnostics.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>

namespace {

using Json = BarOptions::Json;

// One reader per file: every error names the file and the member the same way.
class Reader final
{
public:
    explicit Reader(const QString &path)
        : _path(BarConfig::shown_path(path))
    {
    }

    [[noreturn]] void fail(const QString &member, const QString &expected, const Json &value) const
    {
        throw ConfigError(QStringLiteral("%1: %2: expected %3, got %4")
                              .arg(_path, member, expected,
                                   diagnostics::printable(QString::fromStdString(
                                       value.dump(-1, ' ', false, Json::error_handler_t::replace))))
                              .toStdString());
    }

    // The object under `key`, or nullptr when absent; present but not an object is an error.
    const Json *object(const Json &parent, const char *key, const QString &member) const
    {
        const auto found = parent.find(key);
        if (found == parent.end())
            return nullptr;
        if (!found->is_object())
            fail(member, QStringLiteral("a JSON object"), *found);
        return &*found;
    }

    void boolean(const Json &parent, const char *key, const QString &member, bool &out) const
    {
        const auto found = parent.find(key);
        if (found == parent.end())
            return;
        if (!found->is_boolean())
            fail(member, QStringLiteral("true or false"), *found);
        out = found->get<bool>();
    }

    void usb_id(const Json &parent, const char *key, const QString &member, int &out) const
    {
        const auto found = parent.find(key);
        if (found == parent.end())
            return;
        const QString expected =
            QStringLiteral("a USB id from 0 to 0xFFFF, as a hex string such as \"0x2E8A\" or an integer");
        if (found->is_number_integer()) {
            const auto value = found->get<long long>();
            if (value < 0 || value > 0xFFFF)
                fail(member, expected, *found);
            out = static_cast<int>(value);
            return;
        }
        if (!found->is_string())
            fail(member, expected, *found);
        QString text = QString::fromStdString(found->get<std::string>()).trimmed();
        if (text.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive))
            text = text.mid(2);
        bool ok = false;
        const uint value = text.toUInt(&ok, 16);
        // toUInt takes a sign and spaces; an id is hex digits only.
        const bool digits_only =
            !text.isEmpty() && text.size() <= 4 && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
                return c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f');
            });
        if (!ok || !digits_only || value > 0xFFFF)
            fail(member, expected, *found);
        out = static_cast<int>(value);
    }

    // A non-empty string, kept as written.
    void text(const Json &parent, const char *key, const QString &member, const QString &expected,
              QString &out) const
    {
        const auto found = parent.find(key);
        if (found == parent.end())
            return;
        if (!found->is_string() || found->get<std::string>().empty())
            fail(member, expected, *found);
        out = QString::fromStdString(found->get<std::string>());
    }

    // For values that must not be echoed: `got` says what was there instead.
    [[noreturn]] void fail_unshown(const QString &member, const QString &expected, const QString &got) const
    {
        throw ConfigError(
            QStringLiteral("%1: %2: expected %3, got %4").arg(_path, member, expected, got).toStdString());
    }

    static QString name(const std::string &key)
    {
        return QString::fromStdString(Json(key).dump(-1, ' ', false, Json::error_handler_t::replace));
    }

private:
    QString _path;
};

void read_areas(const Reader &reader, const Json &areas, QList<AreaOptions> &out)
{
    for (const auto &entry : areas.items()) {
        const std::optional<int> index = BarConfig::area_index_from_key(entry.key());
        // Keys that name no area, and entries that are no objects, are the
        // colour rules' business; labels only go where an area is.
        if (!index || *index < 0 || *index > 7 || !entry.value().is_object())
            continue;
        const QString member = QStringLiteral("\"areas\" → %1").arg(Reader::name(entry.key()));
        AreaOptions area;
        area.index = *index;
        const Json &value = entry.value();
        if (const auto label = value.find("label"); label != value.end()) {
            if (!label->is_string())
                reader.fail(member + QStringLiteral(" → \"label\""), QStringLiteral("a string"), *label);
            area.label = QString::fromStdString(label->get<std::string>());
        }
        if (const auto color = value.find("label_color"); color != value.end()) {
            const QColor parsed = color->is_string()
                                      ? QColor::fromString(QString::fromStdString(color->get<std::string>()))
                                      : QColor();
            if (!parsed.isValid())
                reader.fail(member + QStringLiteral(" → \"label_color\""),
                            QStringLiteral("a colour string such as \"#202020\""), *color);
            area.label_color = parsed;
        }
        out.append(area);
    }
}

// A key of a map by switch number ("switches", "commands"): decimal text as
// area keys are read, 0 to 255; `member` names the map in errors.
int switch_key(const Reader &reader, const std::string &key, const QString &member)
{
    const std::optional<int> number = BarConfig::area_index_from_key(key);
    if (!number || *number < 0 || *number > BarOptions::kMaxSwitchNumber)
        reader.fail(member,
                    QStringLiteral("switch numbers from 0 to %1 as keys").arg(BarOptions::kMaxSwitchNumber),
                    Json(key));
    return *number;
}

// `member` names the map in errors: "switches", or a box's own.
void read_switches(const Reader &reader, const Json &switches, const QString &member, QMap<int, int> &out)
{
    for (const auto &entry : switches.items()) {
        const QString key_member = QStringLiteral("%1 → %2").arg(member, Reader::name(entry.key()));
        const int number = switch_key(reader, entry.key(), member);
        const Json &area = entry.value();
        if (!area.is_number_integer() || area.get<long long>() < 0 || area.get<long long>() > 7)
            reader.fail(key_member, QStringLiteral("an area number from 0 to 7"), area);
        out.insert(number, static_cast<int>(area.get<long long>()));
    }
}

// One argument list of "commands": strings, the program first and not empty.
// A NUL would cut the argument short on its way to the program.
QStringList read_command_line(const Reader &reader, const Json &value, const QString &member)
{
    const auto is_argument = [](const Json &argument) {
        return argument.is_string() && argument.get<std::string>().find('\0') == std::string::npos;
    };
    if (!value.is_array() || value.empty() || !value.front().is_string()
        || value.front().get<std::string>().empty() || !std::all_of(value.begin(), value.end(), is_argument))
        reader.fail(member,
                    QStringLiteral("a list of strings without NUL characters, the program first, "
                                   "such as [\"obs-cmd\", \"scene\", \"switch\", \"Live\"]"),
                    value);
    QStringList line;
    for (const Json &argument : value)
        line.append(QString::fromStdString(argument.get<std::string>()));
    return line;
}

// "commands": switch number (as "switches" reads it) → {"on": [...], "off": [...]}.
// An entry with neither, or with another member (a misspelt "On"), would
// silently start nothing: it is refused.
void read_commands(const Reader &reader, const Json &commands, QMap<int, SwitchCommand> &out)
{
    const QString member = QStringLiteral("\"commands\"");
    for (const auto &entry : commands.items()) {
        const QString key_member = QStringLiteral("%1 → %2").arg(member, Reader::name(entry.key()));
        const int number = switch_key(reader, entry.key(), member);
        const Json &value = entry.value();
        const QString expected = QStringLiteral("an object with \"on\", \"off\" or both");
        if (!value.is_object() || value.empty())
            reader.fail(key_member, expected, value);
        SwitchCommand command;
        for (const auto &part : value.items()) {
            const QString part_member = QStringLiteral("%1 → %2").arg(key_member, Reader::name(part.key()));
            if (part.key() == "on")
                command.on = read_command_line(reader, part.value(), part_member);
            else if (part.key() == "off")
                command.off = read_command_line(reader, part.value(), part_member);
            else
                reader.fail(part_member, QStringLiteral("only \"on\" and \"off\" in a command entry"),
                            part.value());
        }
        out.insert(number, command);
    }
}

// The members "device" and each entry of "devices" share; `member` is how
// errors name the object.
DeviceOptions read_device(const Reader &reader, const Json &device, const QString &member)
{
    DeviceOptions options;
    const auto at = [&member](const char *key) {
        return QStringLiteral("%1 → \"%2\"").arg(member, QLatin1String(key));
    };
    reader.usb_id(device, "vendor_id", at("vendor_id"), options.vendor_id);
    reader.usb_id(device, "product_id", at("product_id"), options.product_id);
    reader.boolean(device, "reconnect", at("reconnect"), options.reconnect);
    reader.boolean(device, "show_state", at("show_state"), options.show_state);
    reader.text(device, "serial", at("serial"), QStringLiteral("the box's serial number as a string"),
                options.serial);
    reader.text(device, "port", at("port"),
                QStringLiteral("the USB port the box is plugged into, as a string such as \"1-3.2\""),
                options.port);
    return options;
}

void read_devices(const Reader &reader, const Json &devices, QList<DeviceOptions> &out)
{
    const QString expected = QStringLiteral("a list of 1 to %1 device objects").arg(BarOptions::kMaxDevices);
    if (!devices.is_array() || devices.empty()
        || devices.size() > static_cast<std::size_t>(BarOptions::kMaxDevices))
        reader.fail(QStringLiteral("\"devices\""), expected, devices);
    int number = 0;
    for (const Json &entry : devices) {
        const QString member = QStringLiteral("\"devices\" → [%1]").arg(number++);
        if (!entry.is_object())
            reader.fail(member, QStringLiteral("a JSON object"), entry);
        DeviceOptions device = read_device(reader, entry, member);
        reader.text(entry, "name", member + QStringLiteral(" → \"name\""),
                    QStringLiteral("a name for the box as a string"), device.name);
        const QString switches_member = member + QStringLiteral(" → \"switches\"");
        if (const Json *switches = reader.object(entry, "switches", switches_member))
            read_switches(reader, *switches, switches_member, device.switches.emplace());
        out.append(device);
    }
}

// Room left under MQTT's 65,535 bytes for what the bar puts after a topic
// ("/box/16/switch/255", "/area/7/set").
constexpr qsizetype kMaxTopicBytes = 65535 - 128;

// An MQTT topic of our own: no wildcards, which a publisher may not use, no
// empty levels at either end, no control characters (which brokers refuse),
// nothing under "$" (the broker's own, as $SYS/), and room for the bar's
// levels below it within MQTT's length limit.
bool plain_topic(const QString &topic)
{
    if (topic.contains(u'+') || topic.contains(u'#') || topic.startsWith(u'/') || topic.endsWith(u'/')
        || topic.startsWith(u'$') || topic.toUtf8().size() > kMaxTopicBytes)
        return false;
    return std::none_of(topic.cbegin(), topic.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7F && u <= 0x9F);
    });
}

QString default_topic()
{
    QString host = QSysInfo::machineHostName();
    for (QChar &c : host) {
        if (c == u'/' || c == u'+' || c == u'#')
            c = u'_';
    }
    return QStringLiteral("quorvel-olvane/") + (host.isEmpty() ? QStringLiteral("bar") : host);
}

MqttOptions read_mqtt(const Reader &reader, const Json &mqtt, const QString &config_path)
{
    MqttOptions options;
    const auto at = [](const char *key) {
        return QStringLiteral("\"mqtt\" → \"%1\"").arg(QLatin1String(key));
    };
    const QDir folder = QFileInfo(config_path).absoluteDir();
    const auto file = [&](const Json &parent, const char *key, const QString &member, QString &out) {
        reader.text(parent, key, member, QStringLiteral("a file name as a string"), out);
        if (!out.isEmpty())
            out = QDir::cleanPath(folder.absoluteFilePath(out));
    };

    // A password written into config.json would travel wherever the file is shared.
    if (mqtt.contains("password"))
        reader.fail_unshown(at("password"),
                            QStringLiteral("no password in config.json: name a file holding it in "
                                           "\"password_file\", so that config.json can be shared"),
                            QStringLiteral("a password (not shown)"));

    reader.text(mqtt, "host", at("host"), QStringLiteral("a broker's host name or address as a string"),
                options.host);
    reader.text(mqtt, "client_id", at("client_id"), QStringLiteral("a client id as a string"),
                options.client_id);
    reader.text(mqtt, "username", at("username"), QStringLiteral("a user name as a string"),
                options.username);
    file(mqtt, "password_file", at("password_file"), options.password_file);
    reader.boolean(mqtt, "publish", at("publish"), options.publish);
    reader.boolean(mqtt, "accept_remote", at("accept_remote"), options.accept_remote);
    reader.boolean(mqtt, "homeassistant", at("homeassistant"), options.homeassistant);

    const QString topic_expected =
        QStringLiteral(
            "a topic such as \"studio/bar\" (no \"+\" or \"#\", no \"/\" at either end, no control "
            "characters, not starting with \"$\", at most %1 bytes)")
            .arg(kMaxTopicBytes);
    options.topic = default_topic();
    reader.text(mqtt, "topic", at("topic"), topic_expected, options.topic);
    if (!plain_topic(options.topic))
        reader.fail(at("topic"), topic_expected, mqtt.at("topic"));
    reader.text(mqtt, "mirror", at("mirror"), QStringLiteral("another bar's topic"), options.mirror);
    if (!options.mirror.isEmpty() && (!plain_topic(options.mirror) || options.mirror == options.topic))
        reader.fail(at("mirror"),
                    QStringLiteral("another bar's topic: ") + topic_expected
                        + QStringLiteral(", not this bar's own"),
                    mqtt.at("mirror"));

    if (const Json *tls = reader.object(mqtt, "tls", at("tls"))) {
        const auto tls_at = [](const char *key) {
            return QStringLiteral("\"mqtt\" → \"tls\" → \"%1\"").arg(QLatin1String(key));
        };
        file(*tls, "ca_file", tls_at("ca_file"), options.ca_file);
        if (options.ca_file.isEmpty())
            reader.fail(tls_at("ca_file"),
                        QStringLiteral("the file of the CA that signed the broker's certificate"),
                        Json(nullptr));
        file(*tls, "cert_file", tls_at("cert_file"), options.cert_file);
        file(*tls, "key_file", tls_at("key_file"), options.key_file);
        if (options.cert_file.isEmpty() != options.key_file.isEmpty())
            reader.fail(options.cert_file.isEmpty() ? tls_at("cert_file") : tls_at("key_file"),
                        QStringLiteral("\"cert_file\" and \"key_file\" together"), Json(nullptr));
        options.port = MqttOptions::kDefaultTlsPort;
    }
    if (const auto port = mqtt.find("port"); port != mqtt.end()) {
        if (!port->is_number_integer() || port->get<long long>() < 1 || port->get<long long>() > 65535)
            reader.fail(at("port"), QStringLiteral("a port number from 1 to 65535"), *port);
        options.port = static_cast<int>(port->get<long long>());
    }
    return options;
}

} // namespace

BarOptions BarOptions::from_json(const Json &doc, const QString &path)
{
    const Reader reader(path);
    BarOptions options;
    if (!doc.is_object())
        return options;

    if (const Json *device = reader.object(doc, "device", QStringLiteral("\"device\"")))
        options.device = read_device(reader, *device, QStringLiteral("\"device\""));
    if (const auto devices = doc.find("devices"); devices != doc.end()) {
        // Two answers to "which box": refused rather than one silently ignored.
        if (doc.contains("device"))
            reader.fail(QStringLiteral("\"devices\""),
                        QStringLiteral("no \"device\" beside it (one or the other)"), *devices);
        read_devices(reader, *devices, options.devices);
    }

    if (const auto bar = doc.find("bar"); bar != doc.end() && bar->is_object()) {
        if (const auto screen = bar->find("screen"); screen != bar->end()) {
            if (!screen->is_string() || screen->get<std::string>().empty())
                reader.fail(QStringLiteral("\"bar\" → \"screen\""),
                            QStringLiteral("a screen name such as \"HDMI-1\", or \"primary\""), *screen);
            options.screen = QString::fromStdString(screen->get<std::string>());
        }
        reader.boolean(*bar, "remember_geometry", QStringLiteral("\"bar\" → \"remember_geometry\""),
                       options.remember_geometry);
        reader.boolean(*bar, "tray", QStringLiteral("\"bar\" → \"tray\""), options.tray);
        reader.boolean(*bar, "click_through", QStringLiteral("\"bar\" → \"click_through\""),
                       options.click_through);
        reader.boolean(*bar, "settings_in_menu", QStringLiteral("\"bar\" → \"settings_in_menu\""),
                       options.settings_in_menu);
        if (const auto height = bar->find("height"); height != bar->end()) {
            if (!height->is_number_integer() || height->get<long long>() < BarOptions::kMinHeight
                || height->get<long long>() > BarOptions::kMaxHeight)
                reader.fail(QStringLiteral("\"bar\" → \"height\""),
                            QStringLiteral("a whole number of pixels from %1 to %2")
                                .arg(BarOptions::kMinHeight)
                                .arg(BarOptions::kMaxHeight),
                            *height);
            options.height = static_cast<int>(height->get<long long>());
        }
        reader.boolean(*bar, "compositor_ipc", QStringLiteral("\"bar\" → \"compositor_ipc\""),
                       options.compositor_ipc);
    }

    if (const auto areas = doc.find("areas"); areas != doc.end() && areas->is_object())
        read_areas(reader, *areas, options.areas);

    if (const Json *switches = reader.object(doc, "switches", QStringLiteral("\"switches\"")))
        read_switches(reader, *switches, QStringLiteral("\"switches\""), options.switches);

    if (const Json *mqtt = reader.object(doc, "mqtt", QStringLiteral("\"mqtt\"")))
        options.mqtt = read_mqtt(reader, *mqtt, path);
    if (const Json *commands = reader.object(doc, "commands", QStringLiteral("\"commands\"")))
        read_commands(reader, *commands, options.commands);

    return options;
}
