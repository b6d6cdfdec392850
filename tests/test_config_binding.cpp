// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "apps/QuorvelOlvane/features/click_through.h"
#include "apps/QuorvelOlvane/features/tray.h"
#include "fake_hidapi.h"
#include "output_capture.h"
#include "window_test_support.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <filesystem>
#include <system_error>

namespace {

const QList<QColor> kPalette = {QColor(255, 255, 0), QColor(255, 0, 0), QColor(255, 255, 0),
                                QColor(255, 0, 0),   QColor(0, 0, 255), QColor(0, 255, 255),
                                QColor(0, 0, 255),   QColor(0, 255, 0)};

QList<QColor> colours(const QuorvelOlvane &window)
{
    QList<QColor> result;
    for (const QColor &c : window.draw_widget->fill_colors)
        result << (c.isValid() ? QColor(c.rgb()) : QColor()); // painting changes alpha; compare RGB
    return result;
}

QList<QColor> black_except(std::initializer_list<std::pair<int, QColor>> changes)
{
    QList<QColor> result(8, QColor(0, 0, 0));
    for (const auto &[area, colour] : changes)
        result[area] = colour;
    return result;
}

// The toolkit keeps a window's opacity in 1/255 steps.
bool same_window_opacity(const QuorvelOlvane &window, double expected)
{
    return qAbs(window.windowOpacity() - expected) <= 1.0 / 255;
}

// Replaces config.json the way many editors save: a new file renamed over it.
bool save_by_rename(const WorkingDirectory &cwd, const QByteArray &bytes)
{
    const QString temp = cwd.file(QStringLiteral(".config.json.new"));
    if (!write_file(temp, bytes))
        return false;
    // As editors save: the new file renamed over the old one, which rename() refuses on Windows.
    std::error_code error;
    std::filesystem::rename(temp.toStdU16String(), "config.json", error);
    return !error;
}

} // namespace

class TestConfigBinding : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startupOpacityCheck_data();
    void startupOpacityCheck();
    void paletteOrConfiguredColours_data();
    void paletteOrConfiguredColours();
    void nonStringColourIsReportedAsInvalid();
    void badStartupFileRaises_data();
    void badStartupFileRaises();
    void changeAppliesLowOpacityAsIs();
    void changeThatFailsPartWayKeepsWhatCameBefore_data();
    void changeThatFailsPartWayKeepsWhatCameBefore();
    void changeWithUnloadableFileAppliesNothing();
    void hotReloadInPlaceWrite();
    void hotReloadTwoSavesByRename();
    void hotReloadDeletedFileIsReadWhenCreatedAgain();
    void hotReloadBrokenThenGoodFile();
    void clickThroughFollowsChangesOfTheFile();
    void trayComesAndGoesWithTheFile();
    void clickThroughWaitsForTheTray();
    void changeAppliesLabelsAndSwitches();

private:
    std::unique_ptr<WorkingDirectory> m_cwd;
};

void TestConfigBinding::init()
{
    m_cwd = std::make_unique<WorkingDirectory>();
    fake_hid::reset_absent();
}

void TestConfigBinding::cleanup()
{
    m_cwd.reset();
}

void TestConfigBinding::startupOpacityCheck_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<double>("opacity");
    QTest::addColumn<double>("windowOpacity");
    QTest::addRow("no file") << QByteArray() << 0.7 << 0.7;
    QTest::addRow("no bar member") << QByteArray("{}") << 0.7 << 0.7;
    QTest::addRow("string, whatever its text") << QByteArray(R"({"bar": {"opacity": "0.9"}})") << 0.7 << 0.7;
    QTest::addRow("null") << QByteArray(R"({"bar": {"opacity": null}})") << 0.7 << 0.7;
    QTest::addRow("array") << QByteArray(R"({"bar": {"opacity": [0.9]}})") << 0.7 << 0.7;
    QTest::addRow("0.3 too faint") << QByteArray(R"({"bar": {"opacity": 0.3}})") << 0.7 << 0.7;
    QTest::addRow("negative") << QByteArray(R"({"bar": {"opacity": -1}})") << 0.7 << 0.7;
    QTest::addRow("0.5 stays") << QByteArray(R"({"bar": {"opacity": 0.5}})") << 0.5 << 0.5;
    QTest::addRow("0.9 stays") << QByteArray(R"({"bar": {"opacity": 0.9}})") << 0.9 << 0.9;
    QTest::addRow("integer 1") << QByteArray(R"({"bar": {"opacity": 1}})") << 1.0 << 1.0;
    QTest::addRow("1.5 has no upper bound") << QByteArray(R"({"bar": {"opacity": 1.5}})") << 1.5 << 1.0;
    QTest::addRow("true counts as 1") << QByteArray(R"({"bar": {"opacity": true}})") << 1.0 << 1.0;
    QTest::addRow("false counts as 0") << QByteArray(R"({"bar": {"opacity": false}})") << 0.7 << 0.7;
    QTest::addRow("1e300") << QByteArray(R"({"bar": {"opacity": 1e300}})") << 1e300 << 1.0;
}

void TestConfigBinding::startupOpacityCheck()
{
    QFETCH(QByteArray, file);
    QFETCH(double, opacity);
    QFETCH(double, windowOpacity);
    if (!file.isNull())
        QVERIFY(write_file(QStringLiteral("config.json"), file));
    WiredBar window;
    QCOMPARE(window.draw_widget->opacity, opacity);
    QVERIFY(same_window_opacity(window, windowOpacity));
    // The corrected value is kept in memory only.
    if (!file.isNull())
        QCOMPARE(QFile(QStringLiteral("config.json")).size(), file.size());
}

void TestConfigBinding::paletteOrConfiguredColours_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<QColor>>("expected");
    QTest::addRow("no file") << QByteArray() << kPalette;
    QTest::addRow("no areas member") << QByteArray(R"({"bar": {"opacity": 0.9}})") << kPalette;
    QTest::addRow("empty areas") << QByteArray(R"({"areas": {}})") << kPalette;
    QTest::addRow("only area 0: the rest stay black")
        << QByteArray(R"({"areas": {"0": {"color": "#123456"}}})")
        << black_except({{0, QColor(0x12, 0x34, 0x56)}});
    QTest::addRow("entry without color is white")
        << QByteArray(R"({"areas": {"3": {}}})") << black_except({{3, QColor(255, 255, 255)}});
    QTest::addRow("\"1\" then \"01\": the later wins")
        << QByteArray(R"({"areas": {"1": {"color": "#111111"}, "01": {"color": "#222222"}}})")
        << black_except({{1, QColor(0x22, 0x22, 0x22)}});
    QTest::addRow("\"01\" then \"1\": the later wins")
        << QByteArray(R"({"areas": {"01": {"color": "#222222"}, "1": {"color": "#111111"}}})")
        << black_except({{1, QColor(0x11, 0x11, 0x11)}});
    QTest::addRow("keys outside 0 to 7 are ignored")
        << QByteArray(R"({"areas": {"8": {"color": "#111111"}, "-1": {}, "999999999999999999999999999999": {},
                                    " +2 ": {"color": "#00FF00"}}})")
        << black_except({{2, QColor(0, 255, 0)}});
    QTest::addRow("other members ignored")
        << QByteArray(R"({"$schema": "x", "areas": {"7": {"color": "red", "note": 1}}})")
        << black_except({{7, QColor(255, 0, 0)}});
}

void TestConfigBinding::paletteOrConfiguredColours()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<QColor>, expected);
    if (!file.isNull())
        QVERIFY(write_file(QStringLiteral("config.json"), file));
    WiredBar window;
    QCOMPARE(colours(window), expected);
}

void TestConfigBinding::nonStringColourIsReportedAsInvalid()
{
    QVERIFY(write_file(QStringLiteral("config.json"),
                       R"({"areas": {"4": {"color": 5}, "5": {"color": null}, "6": {"color": [1, "a"]}}})"));
    OutputCapture out;
    WiredBar window;
    const QStringList lines = out.lines().filter(QStringLiteral("[ERROR]"));
    QCOMPARE(lines, (QStringList{"[ERROR] Invalid color string: 5", "[ERROR] Invalid color string: null",
                                 "[ERROR] Invalid color string: [1,\"a\"]"}));
    for (int area : {4, 5, 6})
        QVERIFY(!window.draw_widget->fill_colors[static_cast<std::size_t>(area)].isValid());
}

void TestConfigBinding::badStartupFileRaises_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("reason");
    QTest::addRow("bad JSON") << QByteArray("{\"areas\": ") << "not valid JSON";
    // The box named in the file: no reader is started for a file that fails.
    QTest::addRow("key x, a device named")
        << QByteArray(R"({"device": {"reconnect": true}, "areas": {"x": {}}})") << "area key \"x\"";
    QTest::addRow("byte-order mark") << QByteArray("\xEF\xBB\xBF{}") << "byte-order mark";
    QTest::addRow("top-level array") << QByteArray("[]") << "top level";
    QTest::addRow("bar null") << QByteArray(R"({"bar": null})") << "\"bar\"";
    QTest::addRow("key x") << QByteArray(R"({"areas": {"0": {}, "x": {}}})")
                           << "area key \"x\" is not a decimal integer";
    QTest::addRow("key 1.5") << QByteArray(R"({"areas": {"1.5": {}}})") << "area key \"1.5\"";
    QTest::addRow("entry not an object")
        << QByteArray(R"({"areas": {"0": 5}})") << "area \"0\" must be a JSON object";
    QTest::addRow("areas an array") << QByteArray(R"({"areas": [1]})") << "\"areas\" must be a JSON object";
    QTest::addRow("areas a string") << QByteArray(R"({"areas": "0"})") << "\"areas\" must be a JSON object";
}

void TestConfigBinding::badStartupFileRaises()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);
    QVERIFY(write_file(QStringLiteral("config.json"), file));
    fake_hid::reset_present(); // a reader that polls until it is stopped
    try {
        WiredBar window;
        QFAIL("the window accepted a bad configuration");
    } catch (const ConfigError &e) {
        const QString message = QString::fromUtf8(e.what());
        // The file in full: the message box alone tells which folder it is in.
        const QString file =
            QDir::toNativeSeparators(QDir::current().absoluteFilePath(QStringLiteral("config.json")));
        QVERIFY2(message.startsWith(file + QStringLiteral(": ")), qPrintable(message));
        QVERIFY2(message.contains(reason), qPrintable(message));
    }
    // Without "device" the reader on the default box started first, as it
    // always did; it has been stopped and joined.
    QCOMPARE(fake_hid::counts().open_attempts, file.contains("\"device\"") ? 0 : 1);
    QCOMPARE(fake_hid::counts().opens, fake_hid::counts().closes);
    QCOMPARE(fake_hid::counts().open_handles, 0);
}

void TestConfigBinding::changeAppliesLowOpacityAsIs()
{
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"bar": {"opacity": 0.9}})"));
    WiredBar window;
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"bar": {"opacity": 0.3}})"));
    window.on_config_changed();
    QCOMPARE(window.draw_widget->opacity, 0.3);
    QVERIFY(same_window_opacity(window, 0.3));
    // No default palette on a change either: the colours stay as they were.
    QCOMPARE(colours(window), kPalette);
}

void TestConfigBinding::changeThatFailsPartWayKeepsWhatCameBefore_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QColor>("area0"); // area 0 afterwards; it was #111111
    QTest::addColumn<bool>("options"); // the label and switches of the file applied
    QTest::addColumn<QString>("message");
    // %CONFIG%: the file in full, as every message names it.
    const QString partly = QStringLiteral("changed configuration partly applied: %CONFIG%: ");
    const QColor old(0x11, 0x11, 0x11);
    const QColor changed(0x33, 0x33, 0x33);
    // The options are checked whole on loading and apply; the areas apply up to the fault.
    QTest::addRow("a bad key after an entry")
        << QByteArray(
               R"({"areas": {"0": {"color": "#333333", "label": "X"}, "bad": {}}, "switches": {"6": 1}})")
        << changed << true << partly + R"(area key "bad" is not a decimal integer; the areas before it)";
    QTest::addRow("a bad key first") << QByteArray(R"({"areas": {"bad": {}, "0": {"color": "#333333"}}})")
                                     << old << false << partly + R"(area key "bad")";
    QTest::addRow("after a key that names no area")
        << QByteArray(R"({"areas": {"9": {"color": "#333333"}, "0": 5}})") << old << false
        << partly + R"(area "0" must be a JSON object)";
    // After all colours, and leaving both opacities as they were.
    QTest::addRow("an opacity that is no number")
        << QByteArray(R"({"bar": {"opacity": "half"}, "areas": {"0": {"color": "#333333"}}})") << changed
        << false
        << partly
               + R"("bar" → "opacity" must be a number; the areas and the other settings were applied; the opacity was not)";
}

void TestConfigBinding::changeThatFailsPartWayKeepsWhatCameBefore()
{
    QFETCH(QByteArray, file);
    QFETCH(QColor, area0);
    QFETCH(bool, options);
    QFETCH(QString, message);
    message.replace(QStringLiteral("%CONFIG%"), QDir::toNativeSeparators(QDir::current().absoluteFilePath(
                                                    QStringLiteral("config.json"))));
    QVERIFY(write_file(
        QStringLiteral("config.json"),
        R"({"bar": {"opacity": 0.8}, "areas": {"0": {"color": "#111111"}, "2": {"color": "#111111"}}})"));
    QuorvelOlvane window;
    QVERIFY(write_file(QStringLiteral("config.json"), file));
    OutputCapture err(stderr);
    window.on_config_changed();
    QCOMPARE(colours(window)[0], area0);
    QCOMPARE(colours(window)[2], QColor(0x11, 0x11, 0x11));
    QCOMPARE(window.draw_widget->opacity, 0.8);
    QVERIFY(same_window_opacity(window, 0.8));
    QCOMPARE(window.draw_widget->labels[0], options ? QStringLiteral("X") : QString());
    QCOMPARE(window.switch_to_area.handle(33, 6).isEmpty(), !options);
    QCOMPARE(err.lines().size(), 1);
    QVERIFY2(err.text().contains(message), qPrintable(err.text()));
}

void TestConfigBinding::changeWithUnloadableFileAppliesNothing()
{
    QVERIFY(write_file(QStringLiteral("config.json"),
                       R"({"bar": {"opacity": 0.8}, "areas": {"0": {"color": "#111111"}}})"));
    WiredBar window;
    QVERIFY(write_file(QStringLiteral("config.json"),
                       "{\"bar\": {\"opacity\": 0.6}, \"areas\": {\"0\": {\"color\": \"#2"));
    OutputCapture err(stderr);
    window.on_config_changed();
    QCOMPARE(colours(window)[0], QColor(0x11, 0x11, 0x11));
    QCOMPARE(window.draw_widget->opacity, 0.8);
    QVERIFY(window.config->opacity == BarConfig::Json(0.8));
    QVERIFY2(err.text().contains(QStringLiteral("config.json")), qPrintable(err.text()));
}

void TestConfigBinding::hotReloadInPlaceWrite()
{
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"areas": {"0": {"color": "#111111"}}})"));
    WiredBar window;
    QVERIFY(write_file(QStringLiteral("config.json"),
                       R"({"bar": {"opacity": 0.55}, "areas": {"0": {"color": "#222222"}}})"));
    QTRY_COMPARE(colours(window)[0], QColor(0x22, 0x22, 0x22));
    QTRY_COMPARE(window.draw_widget->opacity, 0.55);
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"areas": {"0": {"color": "#333333"}}})"));
    QTRY_COMPARE(colours(window)[0], QColor(0x33, 0x33, 0x33));
}

void TestConfigBinding::hotReloadTwoSavesByRename()
{
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"areas": {"0": {"color": "#111111"}}})"));
    WiredBar window;
    QVERIFY(save_by_rename(*m_cwd, R"({"areas": {"0": {"color": "#222222"}}})"));
    QTRY_COMPARE(colours(window)[0], QColor(0x22, 0x22, 0x22));
    QTRY_COMPARE(window.watcher->files(), QStringList{QStringLiteral("config.json")});
    QVERIFY(save_by_rename(*m_cwd, R"({"areas": {"0": {"color": "#333333"}}})"));
    QTRY_COMPARE(colours(window)[0], QColor(0x33, 0x33, 0x33));
}

void TestConfigBinding::hotReloadDeletedFileIsReadWhenCreatedAgain()
{
    {
        // Missing at start-up: not watched, and a file created later is not read.
        WiredBar window;
        QVERIFY(window.watcher->files().isEmpty() && window.watcher->directories().isEmpty());
        QVERIFY(write_file(QStringLiteral("config.json"), R"({"areas": {"0": {"color": "#222222"}}})"));
        QTest::qWait(300);
        QCOMPARE(colours(window), kPalette);
    }
    QVERIFY(write_file(QStringLiteral("config.json"),
                       R"({"bar": {"opacity": 0.6}, "areas": {"0": {"color": "#111111"}}})"));
    WiredBar window;
    OutputCapture err(stderr);
    QVERIFY(QFile::remove(QStringLiteral("config.json")));
    QTRY_VERIFY(window.watcher->files().isEmpty());
    // The current values stay applied.
    QCOMPARE(colours(window)[0], QColor(0x11, 0x11, 0x11));
    QCOMPARE(window.draw_widget->opacity, 0.6);
    // Its folder is still watched: a file created again is read.
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"areas": {"0": {"color": "#222222"}}})"));
    QTRY_COMPARE(colours(window)[0], QColor(0x22, 0x22, 0x22));
    QCOMPARE(err.text(), QString());
}

void TestConfigBinding::hotReloadBrokenThenGoodFile()
{
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"areas": {"0": {"color": "#111111"}}})"));
    WiredBar window;
    OutputCapture err(stderr);
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"areas": {"0": )"));
    QTRY_VERIFY(err.text().contains(QStringLiteral("not valid JSON")));
    QTest::qWait(300); // read again after a pause, and reported once
    QCOMPARE(err.lines().size(), 1);
    QCOMPARE(colours(window)[0], QColor(0x11, 0x11, 0x11));
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"areas": {"0": {"color": "#222222"}}})"));
    QTRY_COMPARE(colours(window)[0], QColor(0x22, 0x22, 0x22));
}

void TestConfigBinding::clickThroughFollowsChangesOfTheFile()
{
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"bar": {"click_through": true}})"));
    WiredBar window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto passes = [&window] {
        return window.windowHandle()->flags().testFlag(Qt::WindowTransparentForInput);
    };
    QVERIFY(passes());

    // No context menu while the bar lets clicks through (one that opened is closed again).
    bool menu_opened = false;
    QTimer::singleShot(0, this, [&menu_opened] {
        if (QWidget *menu = QApplication::activePopupWidget()) {
            menu_opened = true;
            menu->close();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(10, 10), window.mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(&window, &event);
    QCoreApplication::processEvents();
    QVERIFY(!menu_opened);

    QVERIFY(write_file(QStringLiteral("config.json"), R"({"bar": {"click_through": false}})"));
    QTRY_VERIFY(!passes());
    QVERIFY(window.isVisible()); // changed in place, not re-created
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"bar": {"click_through": true}})"));
    QTRY_VERIFY(passes());
}

void TestConfigBinding::trayComesAndGoesWithTheFile()
{
    WiredBar window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.features().tray);
    emit window.readers.thread->state_changed(DeviceState::NoPermission, QString(), 0);

    QVERIFY(write_file(QStringLiteral("config.json"), R"({"bar": {"tray": true}})"));
    qsizetype no_tray_lines = 0;
    {
        OutputCapture out;
        window.on_config_changed();
        window.on_config_changed();
        no_tray_lines = out.lines().filter(QStringLiteral("no system tray")).size();
    }
    // The offscreen desktop has no tray (Windows always has its notification area): one
    // line, however often the file is read.
    QCOMPARE(no_tray_lines, QSystemTrayIcon::isSystemTrayAvailable() ? 0 : 1);
    QVERIFY(window.features().tray);
    // A tray made later still tells the state reported before it.
    QVERIFY(window.features().tray->icon.toolTip().contains(QStringLiteral("アクセス権がありません")));

    TrayStandIn tray(true);
    window.features().tray->show_action->trigger();
    window.features().tray->click_through_action->trigger();
    QVERIFY(!window.isVisible());
    QVERIFY(window.click_through());
    // Without the tray, its choices would be out of reach: they are undone.
    QVERIFY(write_file(QStringLiteral("config.json"), "{}"));
    window.on_config_changed();
    QVERIFY(!window.features().tray);
    QVERIFY(window.isVisible());
    QVERIFY(!window.click_through());
}

void TestConfigBinding::clickThroughWaitsForTheTray()
{
    TrayStandIn tray(true);
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"bar": {"tray": true, "click_through": true}})"));
    WiredBar window;
    QVERIFY(window.click_through());
    // The tray's host goes away: nothing could turn click-through off, so the
    // mouse works on the bar until a tray is back.
    tray.set_present(false);
    QTRY_VERIFY_WITH_TIMEOUT(!window.click_through(), 3 * ClickThrough::kTrayCheckMs);
    tray.set_present(true);
    QTRY_VERIFY_WITH_TIMEOUT(window.click_through(), 3 * ClickThrough::kTrayCheckMs);
}

void TestConfigBinding::changeAppliesLabelsAndSwitches()
{
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"areas": {"0": {"color": "#111111", "label": "REC"},
        "1": {"label": "MUTE", "label_color": "#FF00FF"}}, "switches": {"6": 1}})"));
    WiredBar window;
    const DrawAreaWidget &grid = *window.draw_widget;
    QCOMPARE(grid.labels[0], u"REC"_qs);
    QCOMPARE(grid.labels[1], u"MUTE"_qs);
    QCOMPARE(grid.label_colors[1], std::optional(QColor(Qt::magenta)));
    window.handle_hid_data(fake_hid::press(6));
    QVERIFY(grid.lit_flags[1]);

    // Area 0 listed without a label loses it; area 1, not listed, keeps its
    // own. Switch 6, held while it is unlisted, darkens area 1 on release.
    QVERIFY(write_file(QStringLiteral("config.json"),
                       R"({"areas": {"0": {"color": "#111111"}}, "switches": {"3": 1}})"));
    window.on_config_changed();
    QCOMPARE(grid.labels[0], QString());
    QCOMPARE(grid.labels[1], u"MUTE"_qs);
    QVERIFY(grid.lit_flags[1]);
    window.handle_hid_data(fake_hid::release(6));
    QVERIFY(!grid.lit_flags[1]);
    window.handle_hid_data(fake_hid::press(3));
    QVERIFY(grid.lit_flags[1]);
    QVERIFY(!grid.lit_flags[4]);
}

QTEST_MAIN(TestConfigBinding)
#include "test_config_binding.moc"
