// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/bar_config.h"
#include "common/config_edit.h"
#include "output_capture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#include <QTest>

#include <climits>

using Json = BarConfig::Json;

namespace {

void write_file(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray read_file(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// A file written by save has the platform's text line ends.
QByteArray saved_text(QByteArray text)
{
#ifdef Q_OS_WIN
    text.replace("\n", "\r\n");
#endif
    return text;
}

QByteArray nested(int depth)
{
    return QByteArray("{\"areas\": {\"0\": {\"color\": ") + QByteArray(depth, '[') + QByteArray(depth, ']')
           + "}}}";
}

} // namespace

// QCOMPARE cannot take JSON values (its overloads try to convert them).
#define COMPARE_JSON(actual, expected)                                                                       \
    QVERIFY2((actual) == (expected), qPrintable(QStringLiteral("%1 != %2")                                   \
                                                    .arg(QString::fromStdString(Json(actual).dump()),        \
                                                         QString::fromStdString(Json(expected).dump()))))

class TestBarConfig : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void constructorTouchesNoFile();
    void missingFileKeepsValues();
    void loadsMembersAsTheyAre_data();
    void loadsMembersAsTheyAre();
    void keepsMemberOrder();
    void laterDuplicateKeyCounts();
    void everyLoadResetsMissingMembers();
    void badFileFailsAndChangesNothing_data();
    void badFileFailsAndChangesNothing();
    void directoryNamedConfigFails();
    void optionsAreTypedAndDefaulted();
    void saveWritesExactLayout();
    void saveDropsBarAndLoadsBackWithDefaultOpacity();
    void saveReplacesTheFileWhole();
    void saveFailureReachesCaller();
    void editChangesOnlyItsMembers_data();
    void editChangesOnlyItsMembers();
    void editBackupIsAFileOfItsOwn_data();
    void editBackupIsAFileOfItsOwn();
    void configPathIsRelative();
    void resourcePathJoinsWorkingDirectory_data();
    void resourcePathJoinsWorkingDirectory();
    void resourcePathNamesExecutable();
    void iconFallsBackToInstalledResources_data();
    void iconFallsBackToInstalledResources();
    void areaKeys_data();
    void areaKeys();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestBarConfig::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("config.json"));
}

void TestBarConfig::constructorTouchesNoFile()
{
    const BarConfig config(m_path);
    QCOMPARE(config.path, m_path);
    COMPARE_JSON(config.opacity, Json(0.7));
    COMPARE_JSON(config.areas, Json::object());
    QVERIFY(!QFileInfo::exists(m_path));
}

void TestBarConfig::missingFileKeepsValues()
{
    BarConfig config(m_path);
    config.opacity = 0.9;
    config.areas = Json::object({{"2", Json::object()}});
    config.load();
    COMPARE_JSON(config.opacity, Json(0.9));
    QCOMPARE(config.areas.size(), std::size_t(1));
}

void TestBarConfig::loadsMembersAsTheyAre_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("opacity");
    QTest::addColumn<QByteArray>("areas");
    QTest::addRow("empty object") << QByteArray("{}") << QByteArray("0.7") << QByteArray("{}");
    QTest::addRow("empty bar") << QByteArray(R"({"bar": {}})") << QByteArray("0.7") << QByteArray("{}");
    QTest::addRow("both members") << QByteArray(
        R"({"bar": {"opacity": 0.9}, "areas": {"1": {"color": "#123456"}}})")
                                  << QByteArray("0.9") << QByteArray(R"({"1":{"color":"#123456"}})");
    QTest::addRow("wrong types further in are kept")
        << QByteArray(R"({"bar": {"opacity": "dim"}, "areas": [1, 2]})") << QByteArray(R"("dim")")
        << QByteArray("[1,2]");
    QTest::addRow("boolean opacity kept")
        << QByteArray(R"({"bar": {"opacity": true}})") << QByteArray("true") << QByteArray("{}");
    QTest::addRow("other members ignored")
        << QByteArray(R"({"$schema": "x", "bar": {"opacity": 1, "size": 3}, "extra": null})")
        << QByteArray("1") << QByteArray("{}");
    QTest::addRow("huge numbers") << QByteArray(
        R"({"bar": {"opacity": 1e300}, "areas": {"0": {"color": 1e-300}}})")
                                  << QByteArray("1e+300") << QByteArray(R"({"0":{"color":1e-300}})");
    QTest::addRow("nested to the limit")
        << nested(BarConfig::kMaxDepth - 4) << QByteArray("0.7")
        << QByteArray(Json::parse(nested(BarConfig::kMaxDepth - 4).toStdString())["areas"].dump().c_str());
}

void TestBarConfig::loadsMembersAsTheyAre()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, opacity);
    QFETCH(QByteArray, areas);
    write_file(m_path, file);
    BarConfig config(m_path);
    config.load();
    COMPARE_JSON(config.opacity, Json::parse(opacity.toStdString()));
    COMPARE_JSON(config.areas, Json::parse(areas.toStdString()));
}

void TestBarConfig::keepsMemberOrder()
{
    write_file(m_path, R"({"areas": {"7": {}, "0": {"color": "#000001"}, "3": {}}})");
    BarConfig config(m_path);
    config.load();
    QStringList keys;
    for (const auto &entry : config.areas.items())
        keys << QString::fromStdString(entry.key());
    QCOMPARE(keys, (QStringList{"7", "0", "3"}));
}

void TestBarConfig::laterDuplicateKeyCounts()
{
    write_file(m_path, R"({"bar": {"opacity": 0.6, "opacity": 0.8},
                          "areas": {"1": {"color": "#111111"}, "2": {}, "1": {"color": "#222222"}}})");
    BarConfig config(m_path);
    config.load();
    COMPARE_JSON(config.opacity, Json(0.8));
    QCOMPARE(config.areas.size(), std::size_t(2));
    COMPARE_JSON(config.areas["1"]["color"], Json("#222222"));
}

void TestBarConfig::everyLoadResetsMissingMembers()
{
    write_file(m_path, R"({"bar": {"opacity": 0.9}, "areas": {"1": {}}})");
    BarConfig config(m_path);
    config.load();
    COMPARE_JSON(config.opacity, Json(0.9));
    write_file(m_path, "{}");
    config.load();
    COMPARE_JSON(config.opacity, Json(0.7));
    COMPARE_JSON(config.areas, Json::object());
}

void TestBarConfig::badFileFailsAndChangesNothing_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("reason");
    QTest::addRow("syntax error") << QByteArray("{\"bar\": {\"opacity\": 0.5,}\n}")
                                  << "line 1, column 25: syntax error";
    QTest::addRow("error on a later line") << QByteArray("{\n\n  \"areas\": x\n}") << "line 3";
    QTest::addRow("empty file") << QByteArray("") << "not valid JSON";
    QTest::addRow("byte-order mark") << QByteArray("\xEF\xBB\xBF{}") << "byte-order mark";
    QTest::addRow("UTF-16 with its mark") << QByteArray("\xFF\xFE{\0}\0", 6) << "is saved as UTF-16";
    QTest::addRow("UTF-16 big-endian without a mark") << QByteArray("\0{\0}", 4) << "is saved as UTF-16";
    QTest::addRow("invalid UTF-8 in a string")
        << QByteArray("{\"areas\": {\"0\": {\"color\": \"\xFF\"}}}") << "not valid JSON";
    QTest::addRow("invalid UTF-8 outside strings") << QByteArray("{\xC3\x28}") << "not valid JSON";
    QTest::addRow("top-level array") << QByteArray("[]") << "top level must be a JSON object";
    QTest::addRow("top-level number") << QByteArray("0.5") << "top level must be a JSON object";
    QTest::addRow("bar null") << QByteArray(R"({"bar": null, "areas": {"0": {}}})")
                              << "\"bar\" must be a JSON object";
    QTest::addRow("bar array") << QByteArray(R"({"bar": [0.5]})") << "\"bar\" must be a JSON object";
    QTest::addRow("two values") << QByteArray("{} {}") << "not valid JSON";
    QTest::addRow("nested too deep") << nested(BarConfig::kMaxDepth + 10) << "nested deeper than 512";
    QTest::addRow("nested 100000 deep at the top")
        << (QByteArray(100000, '[') + QByteArray(100000, ']')) << "nested deeper than 512";
    // The opt-in members: each error names the member and what it expects.
    QTest::addRow("device not an object")
        << QByteArray(R"({"device": true})") << "\"device\": expected a JSON object, got true";
    QTest::addRow("vendor id not hex") << QByteArray(R"({"device": {"vendor_id": "0xZZ"}})")
                                       << "\"device\" → \"vendor_id\": expected a USB id";
    QTest::addRow("vendor id with a sign")
        << QByteArray(R"({"device": {"vendor_id": "-1"}})") << "\"device\" → \"vendor_id\"";
    QTest::addRow("product id too large") << QByteArray(R"({"device": {"product_id": 65536}})")
                                          << "\"device\" → \"product_id\": expected a USB id";
    QTest::addRow("product id five digits")
        << QByteArray(R"({"device": {"product_id": "0x1000A"}})") << "\"device\" → \"product_id\"";
    QTest::addRow("reconnect not a boolean")
        << QByteArray(R"({"device": {"reconnect": "yes"}})")
        << "\"device\" → \"reconnect\": expected true or false, got \"yes\"";
    QTest::addRow("screen empty") << QByteArray(R"({"bar": {"screen": ""}})") << "\"bar\" → \"screen\"";
    QTest::addRow("tray a number") << QByteArray(R"({"bar": {"tray": 1}})")
                                   << "\"bar\" → \"tray\": expected true or false, got 1";
    QTest::addRow("height below the window's minimum")
        << QByteArray(R"({"bar": {"height": 39}})")
        << "\"bar\" → \"height\": expected a whole number of pixels from 40 to 1000, got 39";
    QTest::addRow("height too large")
        << QByteArray(R"({"bar": {"height": 1001}})") << "from 40 to 1000, got 1001";
    QTest::addRow("height a fraction") << QByteArray(R"({"bar": {"height": 80.5}})") << "got 80.5";
    QTest::addRow("compositor_ipc a string")
        << QByteArray(R"({"bar": {"compositor_ipc": "off"}})")
        << "\"bar\" → \"compositor_ipc\": expected true or false, got \"off\"";
    QTest::addRow("label not a string") << QByteArray(R"({"areas": {"01": {"label": 5}}})")
                                        << "\"areas\" → \"01\" → \"label\": expected a string, got 5";
    QTest::addRow("label colour unreadable") << QByteArray(R"({"areas": {"2": {"label_color": "nope"}}})")
                                             << "\"areas\" → \"2\" → \"label_color\"";
    QTest::addRow("switch key not an integer")
        << QByteArray(R"({"switches": {"x": 1}})") << "\"switches\": expected switch numbers";
    QTest::addRow("switch to area 8") << QByteArray(R"({"switches": {"3": 8}})")
                                      << "\"switches\" → \"3\": expected an area number from 0 to 7, got 8";
    QTest::addRow("switch to a real") << QByteArray(R"({"switches": {"3": 1.5}})") << "\"switches\" → \"3\"";
    QTest::addRow("empty serial") << QByteArray(R"({"device": {"serial": ""}})")
                                  << "\"device\" → \"serial\": expected the box's serial number";
    QTest::addRow("device and devices")
        << QByteArray(R"({"device": {}, "devices": [{}]})")
        << "\"devices\": expected no \"device\" beside it (one or the other), got [{}]";
    QTest::addRow("devices empty") << QByteArray(R"({"devices": []})")
                                   << "\"devices\": expected a list of 1 to 16 device objects, got []";
    QTest::addRow("devices entry not an object")
        << QByteArray(R"({"devices": [{}, 3]})") << "\"devices\" → [1]: expected a JSON object, got 3";
    QTest::addRow("devices entry port") << QByteArray(R"({"devices": [{"port": 12}]})")
                                        << "\"devices\" → [0] → \"port\": expected the USB port";
    QTest::addRow("devices entry switch")
        << QByteArray(R"({"devices": [{"switches": {"1": 9}}]})")
        << "\"devices\" → [0] → \"switches\" → \"1\": expected an area number from 0 to 7, got 9";
    QTest::addRow("mqtt password refused unshown")
        << QByteArray(R"({"mqtt": {"password": "hunter2"}})")
        << "\"mqtt\" → \"password\": expected no password in config.json: name a file holding it in "
           "\"password_file\", so that config.json can be shared, got a password (not shown)";
    QTest::addRow("mqtt port zero") << QByteArray(R"({"mqtt": {"port": 0}})")
                                    << "\"mqtt\" → \"port\": expected a port number from 1 to 65535, got 0";
    QTest::addRow("mqtt topic with a wildcard")
        << QByteArray(R"({"mqtt": {"topic": "studio/#"}})") << "\"mqtt\" → \"topic\": expected a topic";
    QTest::addRow("mqtt topic with a control character")
        << QByteArray(R"({"mqtt": {"topic": "studio/\u001b[31m"}})")
        << "\"mqtt\" → \"topic\": expected a topic";
    QTest::addRow("mqtt topic with a C1 control character")
        << QByteArray(R"({"mqtt": {"topic": "studio/\u0085desk"}})")
        << "\"mqtt\" → \"topic\": expected a topic";
    QTest::addRow("mqtt topic under $SYS")
        << QByteArray(R"({"mqtt": {"topic": "$SYS/bar"}})") << "\"mqtt\" → \"topic\": expected a topic";
    QTest::addRow("mqtt topic over 65,535 bytes")
        << QByteArray(R"({"mqtt": {"topic": ")") + QByteArray(70000, 'a') + QByteArray(R"("}})")
        << "\"mqtt\" → \"topic\": expected a topic such as \"studio/bar\" (no \"+\" or \"#\", no \"/\" at "
           "either end, no control characters, not starting with \"$\", at most 65407 bytes)";
    QTest::addRow("mqtt mirror with a control character")
        << QByteArray(R"({"mqtt": {"topic": "a/b", "mirror": "a/\n"}})")
        << "\"mqtt\" → \"mirror\": expected another bar's topic";
    QTest::addRow("mqtt mirror of itself") << QByteArray(R"({"mqtt": {"topic": "a/b", "mirror": "a/b"}})")
                                           << "\"mqtt\" → \"mirror\": expected another bar's topic";
    QTest::addRow("mqtt tls without a CA")
        << QByteArray(R"({"mqtt": {"tls": {"cert_file": "c.pem"}}})") << "\"mqtt\" → \"tls\" → \"ca_file\"";
    QTest::addRow("mqtt certificate without its key")
        << QByteArray(R"({"mqtt": {"tls": {"ca_file": "ca.pem", "cert_file": "c.pem"}}})")
        << "\"mqtt\" → \"tls\" → \"key_file\": expected \"cert_file\" and \"key_file\" together";
    QTest::addRow("mqtt publish a string")
        << QByteArray(R"({"mqtt": {"publish": "yes"}})") << "\"mqtt\" → \"publish\": expected true or false";
    QTest::addRow("commands not an object")
        << QByteArray(R"({"commands": []})") << "\"commands\": expected a JSON object, got []";
    QTest::addRow("command key not a switch")
        << QByteArray(R"({"commands": {"x": {"on": ["a"]}}})")
        << "\"commands\": expected switch numbers from 0 to 255 as keys, got \"x\"";
    QTest::addRow("command for switch 256")
        << QByteArray(R"({"commands": {"256": {"on": ["a"]}}})") << "\"commands\": expected switch numbers";
    QTest::addRow("command entry a list")
        << QByteArray(R"({"commands": {"3": ["obs-cmd"]}})")
        << "\"commands\" → \"3\": expected an object with \"on\", \"off\" or both, got [\"obs-cmd\"]";
    QTest::addRow("command entry empty")
        << QByteArray(R"({"commands": {"3": {}}})") << "\"commands\" → \"3\": expected an object with";
    QTest::addRow("command entry misspelt")
        << QByteArray(R"({"commands": {"3": {"on": ["a"], "On": ["b"]}}})")
        << "\"commands\" → \"3\" → \"On\": expected only \"on\" and \"off\" in a command entry";
    QTest::addRow("command one string")
        << QByteArray(R"({"commands": {"3": {"on": "obs-cmd scene"}}})")
        << "\"commands\" → \"3\" → \"on\": expected a list of strings without NUL characters, the program "
           "first, such as [\"obs-cmd\", \"scene\", \"switch\", \"Live\"], got \"obs-cmd scene\"";
    QTest::addRow("command empty list") << QByteArray(R"({"commands": {"3": {"off": []}}})")
                                        << "\"commands\" → \"3\" → \"off\": expected a list";
    QTest::addRow("command without a program") << QByteArray(R"({"commands": {"3": {"on": ["", "x"]}}})")
                                               << "\"commands\" → \"3\" → \"on\": expected";
    QTest::addRow("command argument a number") << QByteArray(R"({"commands": {"3": {"on": ["a", 1]}}})")
                                               << "\"commands\" → \"3\" → \"on\": expected";
    QTest::addRow("command argument with a NUL")
        << QByteArray(R"({"commands": {"3": {"on": ["a", "b\u0000c"]}}})")
        << "\"commands\" → \"3\" → \"on\": expected";
    QTest::addRow("echo of a huge value is cut")
        << (QByteArray(R"({"bar": {"tray": ")") + QByteArray(100000, 'x') + "\"}}")
        << "… (99802 more characters)";
}

void TestBarConfig::badFileFailsAndChangesNothing()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);
    write_file(m_path, file);
    BarConfig config(m_path);
    config.opacity = 0.55;
    config.areas = Json::object({{"4", Json::object()}});
    try {
        config.load();
        QFAIL("load accepted a bad file");
    } catch (const ConfigError &e) {
        const QString message = QString::fromUtf8(e.what());
        QVERIFY2(message.contains(QStringLiteral("config.json")), qPrintable(message));
        QVERIFY2(message.contains(reason), qPrintable(message));
    }
    COMPARE_JSON(config.opacity, Json(0.55));
    COMPARE_JSON(config.areas, Json::object({{"4", Json::object()}}));
}

void TestBarConfig::directoryNamedConfigFails()
{
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("config.json")));
    BarConfig config(m_path);
    QVERIFY_THROWS_EXCEPTION(ConfigError, config.load());
    COMPARE_JSON(config.opacity, Json(0.7));
}

void TestBarConfig::optionsAreTypedAndDefaulted()
{
    BarConfig config(m_path);
    write_file(m_path, R"({"device": {"vendor_id": "2e8b", "product_id": "0x0B", "reconnect": true,
                                      "show_state": true, "serial": "SN 1", "port": "1-3.2"},
                           "bar": {"screen": "HDMI-1", "remember_geometry": true, "tray": true,
                                   "click_through": true, "settings_in_menu": true, "height": 40,
                                   "compositor_ipc": false},
                           "areas": {"3": {"color": "red", "label": "REC", "label_color": "#102030"},
                                     "x": {"label": 5}, "9": {"label": 5}, "1": 7, "01": {}},
                           "switches": {"6": 3, "03": 1},
                           "commands": {"3": {"on": ["obs-cmd", "scene", "switch", "Live"], "off": ["x"]},
                                        "05": {"off": ["録画 停止", "$HOME", ""]}}})");
    config.load();
    const BarOptions &options = config.options;
    QCOMPARE(
        options.device,
        (DeviceOptions{0x2E8B, 0x000B, true, true, QStringLiteral("SN 1"), QStringLiteral("1-3.2"), {}, {}}));
    QCOMPARE(options.boxes(), QList<DeviceOptions>{options.device});
    QCOMPARE(options.screen, QStringLiteral("HDMI-1"));
    QVERIFY(options.remember_geometry && options.tray && options.click_through && options.settings_in_menu);
    QCOMPARE(options.height, 40);
    QVERIFY(!options.compositor_ipc);
    // Keys naming no area, and entries that are no objects, are left to the colour rules.
    QCOMPARE(options.areas,
             (QList<AreaOptions>{{3, QStringLiteral("REC"), QColor(0x10, 0x20, 0x30)}, {1, {}, {}}}));
    QCOMPARE(options.switches, (QMap<int, int>{{6, 3}, {3, 1}}));
    QCOMPARE(options.commands, (QMap<int, SwitchCommand>{{3, {{"obs-cmd", "scene", "switch", "Live"}, {"x"}}},
                                                         {5, {{}, {"録画 停止", "$HOME", ""}}}}));

    // Several boxes: each its own ids, choice, name and (when given) switch map.
    write_file(m_path, R"({"devices": [{"serial": "A1", "switches": {"1": 0}},
                                       {"port": "1-2", "name": "left pedal", "reconnect": true}],
                           "switches": {"2": 5}})");
    config.load();
    QCOMPARE(
        config.options.boxes(),
        (QList<DeviceOptions>{
            {0x2E8A, 0x000A, false, false, QStringLiteral("A1"), {}, {}, QMap<int, int>{{1, 0}}},
            {0x2E8A, 0x000A, true, false, {}, QStringLiteral("1-2"), QStringLiteral("left pedal"), {}}}));

    // "mqtt": defaults, the TLS port, and files found beside config.json.
    write_file(m_path, R"({"mqtt": {}})");
    config.load();
    QVERIFY(config.options.mqtt);
    QCOMPARE(config.options.mqtt->host, QStringLiteral("localhost"));
    QCOMPARE(config.options.mqtt->port, MqttOptions::kDefaultPort);
    QVERIFY(config.options.mqtt->topic.startsWith(QStringLiteral("quorvel-olvane/")));
    QVERIFY(config.options.mqtt->publish && !config.options.mqtt->accept_remote
            && !config.options.mqtt->homeassistant);
    write_file(m_path, R"({"mqtt": {"host": "broker", "topic": "studio/bar", "username": "desk",
                                    "password_file": "mqtt.pw", "tls": {"ca_file": "certs/ca.pem"},
                                    "accept_remote": true, "mirror": "studio/other"}})");
    config.load();
    const QDir folder(m_dir->path());
    QCOMPARE(config.options.mqtt->port, MqttOptions::kDefaultTlsPort);
    QCOMPARE(config.options.mqtt->password_file, folder.absoluteFilePath(QStringLiteral("mqtt.pw")));
    QCOMPARE(config.options.mqtt->ca_file, folder.absoluteFilePath(QStringLiteral("certs/ca.pem")));
    QCOMPARE(config.options.mqtt->mirror, QStringLiteral("studio/other"));
    QVERIFY(config.options.mqtt->accept_remote);

    // Every load starts from the defaults: what the file no longer says is off again.
    write_file(m_path, R"({"device": {"vendor_id": 11915}})");
    config.load();
    BarOptions expected;
    expected.device.vendor_id = 11915;
    QCOMPARE(config.options, expected);
}

void TestBarConfig::saveWritesExactLayout()
{
    BarConfig config(m_path);
    config.opacity = 0.9;
    config.areas =
        Json::parse(R"({"b": {"x": [1, {}], "e": {}, "a": []}, "é": "ü😀", "0": {"color": "#FF0000"}})");
    config.save();
    const QByteArray expected = "{\n"
                                "  \"areas\": {\n"
                                "    \"b\": {\n"
                                "      \"x\": [\n"
                                "        1,\n"
                                "        {}\n"
                                "      ],\n"
                                "      \"e\": {},\n"
                                "      \"a\": []\n"
                                "    },\n"
                                "    \"\\u00e9\": \"\\u00fc\\ud83d\\ude00\",\n"
                                "    \"0\": {\n"
                                "      \"color\": \"#FF0000\"\n"
                                "    }\n"
                                "  }\n"
                                "}\n";
    QCOMPARE(read_file(m_path), saved_text(expected));
}

void TestBarConfig::saveDropsBarAndLoadsBackWithDefaultOpacity()
{
    write_file(m_path,
               R"({"bar": {"opacity": 0.9}, "areas": {"5": {"color": "#00FFFF"}, "1": {}}, "other": 1})");
    BarConfig config(m_path);
    config.load();
    const Json areas = config.areas;
    config.save();
    const Json written = Json::parse(read_file(m_path).toStdString());
    COMPARE_JSON(written, Json::object({{"areas", areas}}));

    BarConfig reloaded(m_path);
    reloaded.opacity = 0.2;
    reloaded.load();
    COMPARE_JSON(reloaded.opacity, Json(0.7));
    COMPARE_JSON(reloaded.areas, areas);
}

void TestBarConfig::saveReplacesTheFileWhole()
{
    write_file(m_path, QByteArray(4096, ' ') + "{}");
    BarConfig config(m_path);
    config.save();
    QCOMPARE(read_file(m_path), saved_text("{\n  \"areas\": {}\n}\n"));
    // Nothing is left behind beside it.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"config.json"});
}

void TestBarConfig::saveFailureReachesCaller()
{
    BarConfig config(m_dir->filePath(QStringLiteral("missing-folder/config.json")));
    QVERIFY_THROWS_EXCEPTION(ConfigError, config.save());
}

void TestBarConfig::editChangesOnlyItsMembers_data()
{
    QTest::addColumn<QByteArray>("file");   // before the edit; none when null
    QTest::addColumn<QByteArray>("edits");  // [[member path], value] pairs; a null value removes
    QTest::addColumn<QByteArray>("onDisk"); // written between read and save; nothing when null
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QByteArray>("expected"); // the file afterwards
    QTest::addColumn<QByteArray>("backup");   // config.json.bak afterwards; none when null

    using O = ConfigEdit::Outcome;
    const QByteArray mine =
        R"({"$schema": "resources/config.schema.json", "note": {"b": 1, "a": [2]},)"
        R"( "bar": {"tray": true, "opacity": 0.9}, "areas": {"3": {"color": "#FF0000"}}})";
    QTest::addRow("order, $schema and unknown members kept byte for byte, only the edit differs")
        << mine << QByteArray(R"([[["areas", "3", "label"], "REC"], [["bar", "opacity"], 0.8]])")
        << QByteArray() << false << int(O::Saved)
        << QByteArray(R"({"$schema": "resources/config.schema.json", "note": {"b": 1, "a": [2]},)"
                      R"( "bar": {"tray": true, "opacity": 0.8}, "areas": {"3": {"color": "#FF0000",)"
                      "\n      \"label\": \"REC\"}}}")
        << mine;
    QTest::addRow("new members go last, written in ASCII; the rest as it was")
        << QByteArray("{\"z\": \"\xC3\xA9\"}")
        << QByteArray("[[[\"areas\", \"0\", \"label\"], \"\xE9\x8C\xB2\"]]") << QByteArray() << false
        << int(O::Saved)
        << QByteArray("{\"z\": \"\xC3\xA9\",\n  \"areas\": {\n    \"0\": {\n      \"label\": \"\\u9332\"\n"
                      "    }\n  }}")
        << QByteArray("{\"z\": \"\xC3\xA9\"}");
    const QByteArray numbers =
        "{\n  \"big\": 12345678901234567890123,\n  \"e\": 1E2,\n  \"zero\": -0,\n"
        "  \"twice\": 1,\n  \"twice\": 2,\n  \"bar\": {\"x\": 1.50, \"opacity\": 0.9}\n}\n";
    QTest::addRow("numbers and duplicate keys of unknown members kept as written")
        << numbers << QByteArray(R"([[["bar", "opacity"], 0.8]])") << QByteArray() << false << int(O::Saved)
        << QByteArray("{\n  \"big\": 12345678901234567890123,\n  \"e\": 1E2,\n  \"zero\": -0,\n"
                      "  \"twice\": 1,\n  \"twice\": 2,\n  \"bar\": {\"x\": 1.50, \"opacity\": 0.8}\n}\n")
        << numbers;
    QTest::addRow("a removed member goes, its neighbours keep their text")
        << QByteArray("{\"a\": 1E2, \"bar\": {\"tray\": true, \"opacity\": 0.9, \"x\": -0}}")
        << QByteArray(R"([[["bar", "opacity"], null]])") << QByteArray() << false << int(O::Saved)
        << QByteArray("{\"a\": 1E2, \"bar\": {\n    \"tray\": true,\n    \"x\": -0\n  }}")
        << QByteArray("{\"a\": 1E2, \"bar\": {\"tray\": true, \"opacity\": 0.9, \"x\": -0}}");
    // Under the size limit as read; indented anew it would be far over it.
    QByteArray large = "{\"note\": [";
    while (large.size() < qsizetype{400} * 1024)
        large += "[1,[2,[3]]],";
    large += "0], \"bar\": {\"opacity\": 0.9}}";
    QByteArray large_saved = large;
    large_saved.replace("\"opacity\": 0.9", "\"opacity\": 0.8");
    QTest::addRow("a 400 KB file is saved, measured as it is")
        << large << QByteArray(R"([[["bar", "opacity"], 0.8]])") << QByteArray() << false << int(O::Saved)
        << large_saved << large;
    QTest::addRow("no file: written, no backup")
        << QByteArray() << QByteArray(R"([[["bar", "settings_in_menu"], true]])") << QByteArray() << false
        << int(O::Saved) << QByteArray("{\n  \"bar\": {\n    \"settings_in_menu\": true\n  }\n}")
        << QByteArray();
    QTest::addRow("same value: nothing written")
        << mine << QByteArray(R"([[["bar", "tray"], true]])") << QByteArray() << false << int(O::Unchanged)
        << mine << QByteArray();
    QTest::addRow("broken file replaced, kept as backup")
        << QByteArray("{\"bar\": {") << QByteArray(R"([[["bar", "opacity"], 0.75]])") << QByteArray() << false
        << int(O::Saved) << QByteArray("{\n  \"bar\": {\n    \"opacity\": 0.75\n  }\n}")
        << QByteArray("{\"bar\": {");
    QTest::addRow("changed on disk: refused, nothing written")
        << mine << QByteArray(R"([[["bar", "tray"], false]])") << QByteArray("{\"other\": 1}") << false
        << int(O::ChangedOnDisk) << QByteArray("{\"other\": 1}") << QByteArray();
    QTest::addRow("changed on disk: overwritten when asked, kept as backup")
        << QByteArray("{}") << QByteArray(R"([[["bar", "tray"], false]])") << QByteArray("{\"other\": 1}")
        << true << int(O::Saved) << QByteArray("{\n  \"bar\": {\n    \"tray\": false\n  }\n}")
        << QByteArray("{\"other\": 1}");
    QTest::addRow("a result the bar would refuse is not written")
        << mine << QByteArray(R"([[["bar", "screen"], ""]])") << QByteArray() << false << int(O::Refused)
        << mine << QByteArray();
}

void TestBarConfig::editChangesOnlyItsMembers()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, edits);
    QFETCH(QByteArray, onDisk);
    QFETCH(bool, overwrite);
    QFETCH(int, outcome);
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, backup);

    if (!file.isNull())
        write_file(m_path, file);
    ConfigEdit edit(m_path);
    edit.read();
    QCOMPARE(edit.broken(), !file.isNull() && !Json::accept(file.toStdString()));
    for (const Json &pair : Json::parse(edits.toStdString())) {
        if (pair[1].is_null())
            edit.remove(pair[0].get<ConfigEdit::MemberPath>());
        else
            edit.set(pair[0].get<ConfigEdit::MemberPath>(), pair[1]);
    }
    if (!onDisk.isNull())
        write_file(m_path, onDisk);

    const ConfigEdit::Result result = edit.save(overwrite);
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(result.error.isEmpty(), result.outcome != ConfigEdit::Outcome::Refused);
    const bool rewritten = result.outcome == ConfigEdit::Outcome::Saved;
    // A written file ends with a line end, which the rows leave out where the file had none.
    QCOMPARE(read_file(m_path),
             rewritten ? saved_text(expected.endsWith('\n') ? expected : expected + '\n') : expected);
    const QString bak = ConfigEdit::backup_path(m_path);
    QCOMPARE(QFileInfo::exists(bak), !backup.isNull());
    QCOMPARE(read_file(bak), backup);
    if (rewritten) {
        BarConfig reloaded(m_path);
        reloaded.load();
    }
}

void TestBarConfig::editBackupIsAFileOfItsOwn_data()
{
    QTest::addColumn<bool>("bakIsLink"); // config.json.bak a link to an unrelated file before the save
    QTest::addColumn<int>("mode");       // config.json's mode
    QTest::addRow("a private file, no backup yet") << false << 0600;
    QTest::addRow("a readable file, no backup yet") << false << 0644;
    QTest::addRow("a private file, the backup a link elsewhere") << true << 0600;
}

// The backup holds the previous file and nothing else: it is never written
// through a link, and no more readable than the file it keeps.
void TestBarConfig::editBackupIsAFileOfItsOwn()
{
#ifndef Q_OS_UNIX
    QSKIP("file modes and links as Unix has them");
#else
    QFETCH(bool, bakIsLink);
    QFETCH(int, mode);
    const QByteArray before = R"({"bar": {"opacity": 0.9}})";
    write_file(m_path, before);
    QVERIFY(::chmod(QFile::encodeName(m_path).constData(), static_cast<mode_t>(mode)) == 0);
    const QString bak = ConfigEdit::backup_path(m_path);
    const QString unrelated = m_dir->filePath(QStringLiteral("unrelated.txt"));
    write_file(unrelated, "keep me");
    if (bakIsLink)
        QVERIFY(QFile::link(unrelated, bak));

    ConfigEdit edit(m_path);
    edit.read();
    edit.set({"bar", "opacity"}, 0.8);
    const ConfigEdit::Result result = edit.save();
    QVERIFY2(result.outcome == ConfigEdit::Outcome::Saved, qPrintable(result.error));

    QCOMPARE(read_file(unrelated), QByteArray("keep me"));
    QVERIFY(!QFileInfo(bak).isSymLink());
    QCOMPARE(read_file(bak), before);
    struct stat info
    {};
    QVERIFY(::stat(QFile::encodeName(bak).constData(), &info) == 0);
    QCOMPARE(int(info.st_mode & 07777), mode);
#endif
}

void TestBarConfig::configPathIsRelative()
{
    QCOMPARE(BarConfig::get_config_path(), QStringLiteral("config.json"));
    QVERIFY(QFileInfo(BarConfig::get_config_path()).isRelative());
}

void TestBarConfig::resourcePathJoinsWorkingDirectory_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("tail");
    const QString icon = QStringLiteral("/resources/icon/icon.ico");
    QTest::addRow("plain") << "resources/icon/icon.ico" << icon;
    QTest::addRow("leading slash") << "/resources/icon/icon.ico" << icon;
    QTest::addRow("leading backslash") << "\\resources/icon/icon.ico" << icon;
    QTest::addRow("mixed run of both") << "//\\/\\\\resources/icon/icon.ico" << icon;
    QTest::addRow("empty gives the directory") << ""
                                               << "";
    QTest::addRow("only separators give the directory") << "/\\/"
                                                        << "";
}

void TestBarConfig::resourcePathJoinsWorkingDirectory()
{
    QFETCH(QString, relative);
    QFETCH(QString, tail);
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    const QString cwd = QDir::currentPath();
    OutputCapture quiet;
    const QString resolved = BarConfig::resource_path(relative);
    const QString from_fs_path = BarConfig::resource_path(std::filesystem::path(relative.toStdString()));
    QDir::setCurrent(before);
    const QString expected = QDir::toNativeSeparators(cwd + tail);
    QCOMPARE(resolved, expected);
    QCOMPARE(from_fs_path, expected);
}

void TestBarConfig::resourcePathNamesExecutable()
{
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    OutputCapture out;
    BarConfig::resource_path(QStringLiteral("resources/icon/icon.ico"));
    QDir::setCurrent(before);
    const QString exe = QCoreApplication::applicationFilePath();
    QCOMPARE(out.lines(), (QStringList{QStringLiteral("exe: ") + QDir::toNativeSeparators(exe),
                                       QStringLiteral("base: ")
                                           + QDir::toNativeSeparators(QFileInfo(exe).absolutePath())}));
    QVERIFY(!out.text().contains(m_dir->path()));
}

void TestBarConfig::iconFallsBackToInstalledResources_data()
{
    QTest::addColumn<bool>("inWorkingDirectory");
    QTest::addColumn<QString>(
        "installed"); // QUORVEL_OLVANE_RESOURCES: "" unset, "-" a folder without the icon
    QTest::addColumn<bool>("expectInstalled");
    QTest::addRow("working directory's icon wins") << true << "icon" << false;
    QTest::addRow("installed icon when resources/ is missing") << false << "icon" << true;
    QTest::addRow("nothing named") << false << "" << false;
    QTest::addRow("named folder without the icon") << false << "-" << false;
}

void TestBarConfig::iconFallsBackToInstalledResources()
{
    QFETCH(bool, inWorkingDirectory);
    QFETCH(QString, installed);
    QFETCH(bool, expectInstalled);
    QDir dir(m_dir->path());
    const QString here = dir.filePath(QStringLiteral("work/resources/icon/icon.ico"));
    const QString there = dir.filePath(QStringLiteral("share/resources/icon/icon.ico"));
    QVERIFY(dir.mkpath(QStringLiteral("work/resources/icon"))
            && dir.mkpath(QStringLiteral("share/resources/icon")));
    if (inWorkingDirectory)
        write_file(here, "here");
    if (installed == QStringLiteral("icon"))
        write_file(there, "there");
    const QByteArray before = qgetenv("QUORVEL_OLVANE_RESOURCES");
    if (installed.isEmpty())
        qunsetenv("QUORVEL_OLVANE_RESOURCES");
    else
        qputenv("QUORVEL_OLVANE_RESOURCES",
                QFile::encodeName(dir.filePath(QStringLiteral("share/resources"))));
    const QString found = BarConfig::icon_path(here);
    if (before.isNull())
        qunsetenv("QUORVEL_OLVANE_RESOURCES");
    else
        qputenv("QUORVEL_OLVANE_RESOURCES", before);
    QCOMPARE(found, expectInstalled ? QDir::toNativeSeparators(there) : here);
}

void TestBarConfig::areaKeys_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("isInteger");
    QTest::addColumn<int>("value");
    QTest::addRow("0") << QByteArray("0") << true << 0;
    QTest::addRow("7") << QByteArray("7") << true << 7;
    QTest::addRow("leading zero") << QByteArray("01") << true << 1;
    QTest::addRow("surrounding whitespace") << QByteArray(" \t3\n ") << true << 3;
    QTest::addRow("plus sign") << QByteArray("+5") << true << 5;
    QTest::addRow("minus zero") << QByteArray("-0") << true << 0;
    QTest::addRow("negative") << QByteArray("-1") << true << -1;
    QTest::addRow("beyond the areas") << QByteArray("8") << true << 8;
    QTest::addRow("30 digits saturate high") << QByteArray(30, '9') << true << INT_MAX;
    QTest::addRow("30 digits saturate low") << ("-" + QByteArray(30, '9')) << true << INT_MIN;
    QTest::addRow("INT_MAX + 1") << QByteArray("2147483648") << true << INT_MAX;
    QTest::addRow("word") << QByteArray("x") << false << 0;
    QTest::addRow("empty") << QByteArray("") << false << 0;
    QTest::addRow("only whitespace") << QByteArray("  ") << false << 0;
    QTest::addRow("only a sign") << QByteArray("+") << false << 0;
    QTest::addRow("two signs") << QByteArray("--1") << false << 0;
    QTest::addRow("decimal point") << QByteArray("1.0") << false << 0;
    QTest::addRow("hexadecimal") << QByteArray("0x1") << false << 0;
    QTest::addRow("exponent") << QByteArray("1e2") << false << 0;
    QTest::addRow("inner space") << QByteArray("1 2") << false << 0;
    QTest::addRow("sign after space") << QByteArray("- 1") << false << 0;
    QTest::addRow("non-ASCII digit") << QByteArray("\xD9\xA1") << false << 0;
}

void TestBarConfig::areaKeys()
{
    QFETCH(QByteArray, key);
    QFETCH(bool, isInteger);
    QFETCH(int, value);
    const std::optional<int> index = BarConfig::area_index_from_key(key.toStdString());
    QCOMPARE(index.has_value(), isInteger);
    if (isInteger)
        QCOMPARE(*index, value);
}

QTEST_GUILESS_MAIN(TestBarConfig)
#include "test_bar_config.moc"
