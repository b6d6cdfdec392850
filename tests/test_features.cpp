// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/features/click_through.h"
#include "apps/QuorvelOlvane/features/mqtt_feature.h"
#include "apps/QuorvelOlvane/features/tray.h"
#include "common/box_state.h"
#include "fake_bar.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

// The features against a fake bar, without a window: how the boxes' state is
// summed up, the tray's rules, and what the MQTT side sends and shows.
class TestFeatures : public QObject
{
    Q_OBJECT

private slots:
    void boxSummary_data();
    void boxSummary();
    void clickThroughRules_data();
    void clickThroughRules();
    void trayShowsTheStateAndActsOnTheBar();
    void mirrorShowsTheOtherBarAndPublishesNothingOfItsOwn();
};

void TestFeatures::boxSummary_data()
{
    QTest::addColumn<QList<int>>("states"); // per box: a DeviceState, or -1 before its first report
    QTest::addColumn<QList<bool>>("reconnect");
    QTest::addColumn<QList<bool>>("show_state");
    QTest::addColumn<int>("latest");
    QTest::addColumn<int>("state"); // -1: no summary
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("waiting");
    QTest::addColumn<QString>("text");

    const int connected = static_cast<int>(DeviceState::Connected);
    const int missing = static_cast<int>(DeviceState::NotConnected);
    const int unplugged = static_cast<int>(DeviceState::Unplugged);
    QTest::addRow("nothing reported yet") << QList<int>{-1} << QList<bool>{true} << QList<bool>{true} << 0
                                          << -1 << QString() << false << QString();
    QTest::addRow("one box waited for")
        << QList<int>{missing} << QList<bool>{true} << QList<bool>{true} << 0 << missing << "reason 0" << true
        << "switch box not connected — waiting";
    QTest::addRow("no text without show_state")
        << QList<int>{missing} << QList<bool>{false} << QList<bool>{false} << 0 << missing << "reason 0"
        << false << QString();
    QTest::addRow("the first box not read is the state, each named on the bar")
        << QList<int>{connected, unplugged, missing} << QList<bool>{false, false, true}
        << QList<bool>{true, true, true} << 0 << unplugged << "reason 1\nreason 2" << false
        << "box 2: switch box unplugged  ·  box 3: switch box not connected — waiting";
    QTest::addRow("all read: connected, waiting as the latest box says")
        << QList<int>{connected, connected} << QList<bool>{false, true} << QList<bool>{true, true} << 1
        << connected << "reason 0\nreason 1" << true << QString();
}

void TestFeatures::boxSummary()
{
    QFETCH(QList<int>, states);
    QFETCH(QList<bool>, reconnect);
    QFETCH(QList<bool>, show_state);
    QFETCH(int, latest);
    QFETCH(int, state);
    QFETCH(QString, reason);
    QFETCH(bool, waiting);
    QFETCH(QString, text);

    QList<box_state::BoxState> reported;
    QList<DeviceOptions> boxes;
    QStringList names;
    for (int box = 0; box < states.size(); ++box) {
        if (states.at(box) >= 0)
            reported.append(
                std::pair{static_cast<DeviceState>(states.at(box)), QStringLiteral("reason %1").arg(box)});
        else
            reported.append(std::nullopt);
        DeviceOptions options;
        options.reconnect = reconnect.at(box);
        options.show_state = show_state.at(box);
        boxes.append(options);
        names.append(states.size() > 1 ? QStringLiteral("box %1").arg(box + 1) : QString());
    }
    const std::optional<BoxSummary> summary = box_state::summarize(reported, boxes, names, latest);
    QCOMPARE(summary.has_value(), state >= 0);
    if (!summary)
        return;
    QCOMPARE(static_cast<int>(summary->state), state);
    QCOMPARE(summary->reason, reason);
    QCOMPARE(summary->waiting, waiting);
    QCOMPARE(summary->text, text);
    QCOMPARE(summary->shown, show_state.contains(true));
}

void TestFeatures::clickThroughRules_data()
{
    QTest::addColumn<bool>("file");      // "click_through" in config.json
    QTest::addColumn<int>("tray");       // 0: no tray; 1: a tray the desktop shows; 2: a tray that is gone
    QTest::addColumn<bool>("toggled");   // the tray's entry chosen once
    QTest::addColumn<bool>("tray_ends"); // "tray" then turned off
    QTest::addColumn<bool>("through");
    QTest::addRow("the file's choice") << true << 0 << false << false << true;
    QTest::addRow("with a tray shown") << true << 1 << false << false << true;
    QTest::addRow("the mouse works while the tray is gone") << true << 2 << false << false << false;
    QTest::addRow("the tray's choice") << false << 1 << true << false << true;
    QTest::addRow("the tray's choice undone with the tray") << false << 1 << true << true << false;
    QTest::addRow("the file's choice again without the tray") << true << 1 << true << true << true;
}

void TestFeatures::clickThroughRules()
{
    QFETCH(bool, file);
    QFETCH(int, tray);
    QFETCH(bool, toggled);
    QFETCH(bool, tray_ends);
    QFETCH(bool, through);
    FakeBar bar;
    ClickThrough click(bar);
    BarOptions options;
    options.click_through = file;
    click.apply(options);
    if (tray > 0)
        click.set_tray(true, [tray] { return tray == 1; });
    if (toggled)
        click.set_wanted(!bar.click_through());
    if (tray_ends)
        click.set_tray(false);
    // The same file read again does not undo the tray's choice.
    click.apply(options);
    QCOMPARE(bar.click_through(), through);
}

void TestFeatures::trayShowsTheStateAndActsOnTheBar()
{
    FakeBar bar;
    BoxSummary unplugged;
    unplugged.state = DeviceState::Unplugged;
    unplugged.reason = QStringLiteral("gone\nagain");
    unplugged.waiting = true;
    bar.state = unplugged; // reported before the tray was made
    ClickThrough click(bar);
    {
        BarTray tray(bar, click);
        QCOMPARE(tray.icon.toolTip(), BarTray::tooltip(DeviceState::Unplugged, unplugged.reason, true));
        BoxSummary connected;
        emit bar.device_state_changed(connected);
        QCOMPARE(tray.icon.toolTip(), BarTray::tooltip(DeviceState::Connected, QString(), false));

        tray.show_action->trigger();
        QVERIFY(!bar.is_shown());
        tray.click_through_action->trigger();
        QVERIFY(bar.click_through() == BarTray::available());
        tray.quit_action->trigger();
        QVERIFY(bar.asked.isEmpty()); // once the menu is done with it
        QTRY_COMPARE(bar.asked, QStringList{QStringLiteral("quit")});
    }
    // Without the tray nothing could bring the bar back or undo its choice.
    QVERIFY(bar.is_shown());
    QVERIFY(!bar.click_through());
}

namespace {

// A broker of its own on loopback, for as long as the test runs.
class Broker
{
public:
    Broker()
    {
        _port = 20000 + static_cast<int>(QCoreApplication::applicationPid() % 20000);
        QFile conf(_dir.filePath(QStringLiteral("broker.conf")));
        if (!conf.open(QIODevice::WriteOnly))
            return;
        conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(_port).toUtf8());
        conf.close();
        _process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    }
    Broker(const Broker &) = delete;
    Broker &operator=(const Broker &) = delete;
    ~Broker()
    {
        _process.terminate();
        _process.waitForFinished(3000);
    }
    bool up()
    {
        return _process.waitForStarted(3000)
               && QTest::qWaitFor([this] { return retained(QStringLiteral("x")).has_value(); }, 5000);
    }
    int port() const { return _port; }
    // The retained message on `topic`, empty when there is none within a
    // second; nothing when no client could connect.
    std::optional<QByteArray> retained(const QString &topic) const
    {
        QProcess sub;
        sub.start(QStringLiteral("mosquitto_sub"),
                  {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                   QString::number(_port), QStringLiteral("-t"), topic, QStringLiteral("--retained-only"),
                   QStringLiteral("-C"), QStringLiteral("1"), QStringLiteral("-W"), QStringLiteral("1")});
        sub.waitForFinished(5000);
        // Exit 27 is the time-out: connected, and nothing retained.
        if (sub.exitCode() != 0 && sub.exitCode() != 27)
            return std::nullopt;
        return sub.readAllStandardOutput().trimmed();
    }

private:
    QTemporaryDir _dir;
    QProcess _process;
    int _port = 0;
};

BarOptions mqtt_options(int port, const QString &topic, const QString &mirror)
{
    BarOptions options;
    MqttOptions mqtt;
    mqtt.host = QStringLiteral("127.0.0.1");
    mqtt.port = port;
    mqtt.topic = topic;
    mqtt.mirror = mirror;
    options.mqtt = mqtt;
    return options;
}

} // namespace

void TestFeatures::mirrorShowsTheOtherBarAndPublishesNothingOfItsOwn()
{
    if (QStandardPaths::findExecutable(QStringLiteral("mosquitto")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("mosquitto_sub")).isEmpty())
        QSKIP("no mosquitto or mosquitto_sub (Debian's mosquitto, mosquitto-clients: scripts/setup.sh "
              "--tests)");
    Broker broker;
    QVERIFY2(broker.up(), "mosquitto did not start");

    // Two bars that mirror each other, the way a loop of mirrors comes about.
    FakeBar one;
    FakeBar two;
    MqttFeature first(one);
    MqttFeature second(two);
    QObject::connect(&one, &BarInterface::area_changed, &one,
                     [&first](int area, const AreaState &state) { first.on_area(area, state); });
    QObject::connect(&two, &BarInterface::area_changed, &two,
                     [&second](int area, const AreaState &state) { second.on_area(area, state); });
    first.apply(mqtt_options(broker.port(), QStringLiteral("t/one"), QStringLiteral("t/two")));
    second.apply(mqtt_options(broker.port(), QStringLiteral("t/two"), QStringLiteral("t/one")));
    // A bar that mirrors nobody publishes its areas: what the checks below could see.
    FakeBar plain;
    MqttFeature third(plain);
    third.apply(mqtt_options(broker.port(), QStringLiteral("t/plain"), QString()));
    QTRY_VERIFY_WITH_TIMEOUT(broker.retained(QStringLiteral("t/plain/area/0")).value_or("").startsWith("{"),
                             10000);

    // A third program lights area 1 of "one": its mirror shows it, and says nothing of it.
    QProcess::execute(QStringLiteral("mosquitto_pub"),
                      {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                       QString::number(broker.port()), QStringLiteral("-r"), QStringLiteral("-t"),
                       QStringLiteral("t/one/area/1"), QStringLiteral("-m"),
                       QStringLiteral(R"({"lit":true,"color":"#00FF00","label":"ON AIR"})")});
    QTRY_VERIFY_WITH_TIMEOUT(two.areas[1].lit, 10000);
    QCOMPARE(two.areas[1].color, QColor(0, 0xFF, 0));
    QCOMPARE(two.areas[1].label, QStringLiteral("ON AIR"));
    QVERIFY(two.state && two.state->shown);
    QTest::qWait(500); // an echo would be back by now
    QCOMPARE(broker.retained(QStringLiteral("t/two/area/1")).value_or("no broker"), QByteArray());
    QCOMPARE(broker.retained(QStringLiteral("t/two/device")).value_or("no broker"), QByteArray());
    QVERIFY(!one.areas[1].lit);
}

QTEST_MAIN(TestFeatures)
#include "test_features.moc"
