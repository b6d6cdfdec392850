// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/mqtt_link.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

// The parts of the MQTT link that decide what a message means, without a broker
// (tests/e2e/e2e_mqtt.sh runs the link against a real one).
class TestMqttLink : public QObject
{
    Q_OBJECT

private slots:
    void areaOfTopic_data();
    void areaOfTopic();
    void areaPayloadReadsBack_data();
    void areaPayloadReadsBack();
    void badAreaPayloadRefused_data();
    void badAreaPayloadRefused();
    void discoveryIdsKeepTopicsApart_data();
    void discoveryIdsKeepTopicsApart();
};

void TestMqttLink::areaOfTopic_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("area"); // -1: none
    QTest::addRow("area") << "s/d/area/3"
                          << "" << 3;
    QTest::addRow("set of area 7") << "s/d/area/7/set"
                                   << "/set" << 7;
    QTest::addRow("area 8 is none") << "s/d/area/8/set"
                                    << "/set" << -1;
    QTest::addRow("two digits") << "s/d/area/03/set"
                                << "/set" << -1;
    QTest::addRow("sign") << "s/d/area/-1/set"
                          << "/set" << -1;
    QTest::addRow("no number") << "s/d/area//set"
                               << "/set" << -1;
    QTest::addRow("another bar's") << "s/other/area/3/set"
                                   << "/set" << -1;
    QTest::addRow("deeper level") << "s/d/area/3/set/x"
                                  << "/set" << -1;
    QTest::addRow("the area, not its set") << "s/d/area/3"
                                           << "/set" << -1;
}

void TestMqttLink::areaOfTopic()
{
    QFETCH(QString, topic);
    QFETCH(QString, suffix);
    QFETCH(int, area);
    QCOMPARE(MqttLink::area_of(QStringLiteral("s/d"), topic, suffix).value_or(-1), area);
}

void TestMqttLink::areaPayloadReadsBack_data()
{
    QTest::addColumn<bool>("lit");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<QString>("label");
    QTest::addRow("lit with a label") << true << QColor(0xFF, 0, 0) << "REC";
    QTest::addRow("dark without one") << false << QColor(0x12, 0x34, 0x56) << "";
    QTest::addRow("quotes and CJK") << true << QColor(0, 0, 0xFF) << "\"ライブ\"\n";
}

void TestMqttLink::areaPayloadReadsBack()
{
    QFETCH(bool, lit);
    QFETCH(QColor, color);
    QFETCH(QString, label);
    const AreaState state{lit, color, label};
    QCOMPARE(MqttLink::parse_area_payload(MqttLink::area_payload(state)), std::optional<AreaState>(state));
}

void TestMqttLink::badAreaPayloadRefused_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addRow("not JSON") << QByteArray("on");
    QTest::addRow("array") << QByteArray("[true]");
    QTest::addRow("no lit") << QByteArray(R"({"color":"#FF0000"})");
    QTest::addRow("lit a string") << QByteArray(R"({"lit":"true"})");
    QTest::addRow("colour a number") << QByteArray(R"({"lit":true,"color":255})");
    QTest::addRow("label an object") << QByteArray(R"({"lit":true,"label":{}})");
    QTest::addRow("cut short") << QByteArray(R"({"lit":tr)");
}

void TestMqttLink::badAreaPayloadRefused()
{
    QFETCH(QByteArray, payload);
    QVERIFY(!MqttLink::parse_area_payload(payload));
}

void TestMqttLink::discoveryIdsKeepTopicsApart_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addRow("slash and underscore") << "studio/desk"
                                          << "studio_desk";
    QTest::addRow("umlaut, space and quote") << "adv/\u00FC ber\"q"
                                             << "adv/? ber'q";
    QTest::addRow("CJK of the same length") << "\u30B9\u30BF\u30B8\u30AA/a"
                                            << "\u653E\u9001\u5C40\u5185/a";
}

// Home Assistant keys devices and entities by these ids: two bars whose
// topics differ must never share one.
void TestMqttLink::discoveryIdsKeepTopicsApart()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    const QList<std::pair<QString, QString>> switches{
        {QStringLiteral("switch/1"), QStringLiteral("Switch 1")}};
    const auto ids = [&switches](const QString &topic) {
        QStringList found;
        for (const auto &[config_topic, payload] : MqttLink::discovery_messages(topic, switches)) {
            found.append(config_topic);
            const auto doc = QJsonDocument::fromJson(payload).object();
            found.append(doc.value(QStringLiteral("unique_id")).toString());
            found.append(doc.value(QStringLiteral("device"))
                             .toObject()
                             .value(QStringLiteral("identifiers"))
                             .toArray()
                             .first()
                             .toString());
        }
        return found;
    };
    const QStringList of_first = ids(first);
    const QStringList of_second = ids(second);
    QCOMPARE(of_first.size(), 6);
    for (const QString &id : of_first) {
        QVERIFY2(!id.isEmpty(), qPrintable(first));
        QVERIFY2(!of_second.contains(id), qPrintable(id));
    }
    // Only what Home Assistant takes in an id.
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_-]+$"));
    for (const QString &id : of_first.mid(1, 2))
        QVERIFY2(allowed.match(id).hasMatch(), qPrintable(id));
}

QTEST_GUILESS_MAIN(TestMqttLink)
#include "test_mqtt_link.moc"
