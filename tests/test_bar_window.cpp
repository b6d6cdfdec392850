// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "apps/QuorvelOlvane/features/settings_window.h"
#include "apps/QuorvelOlvane/features/tray.h"
#include "common/version.h"
#include "fake_hidapi.h"
#include "output_capture.h"
#include "window_test_support.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>

namespace {

QImage grab_window(QuorvelOlvane &window)
{
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

std::array<bool, 8> lit(const QuorvelOlvane &window)
{
    return window.draw_widget->lit_flags;
}

// Takes the URLs the program asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};

} // namespace

class TestBarWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void initialGeometryIsBottomStrip();
    void cannotShrinkBelowMinimum();
    void windowAttributes();
    void widgetTreeAndMargins();
    void paintsOutlineAndBlackBand();
    void shortReportsChangeNothing_data();
    void shortReportsChangeNothing();
    void onlyBytesTwoAndThreeCount_data();
    void onlyBytesTwoAndThreeCount();
    void switchSevenModeThroughHandler();
    void readerReportsLightAreas();
    void closeStopsThePollingReader();
    void closeWithFinishedReaderIsImmediate();
    void deviceStateOnTheBar_data();
    void deviceStateOnTheBar();
    void changedDeviceRestartsTheReader();
    void trayMenuDrivesTheBar();
    void settingsPreviewOnTheBarUntilCancel();
    void settingsAssignByPressAndSave();
    void settingsSaveKeepsWhatTheBarShowed_data();
    void settingsSaveKeepsWhatTheBarShowed();
    void unusableColourIsSaidWhereTheUserLooks();
    void settingsOpenBesideTheBar_data();
    void settingsOpenBesideTheBar();
    void assignPromptCountsDownAndSaysNothingWasPressed();
    void settingsTextsFit_data();
    void settingsTextsFit();
    void aboutNamesVersionLicenceAndGuide_data();
    void aboutNamesVersionLicenceAndGuide();
    void trayTooltipFollowsDeviceState_data();
    void trayTooltipFollowsDeviceState();
    void severalBoxesEachWithTheirMapAndState();

private:
    std::unique_ptr<WorkingDirectory> m_cwd;
};

void TestBarWindow::init()
{
    m_cwd = std::make_unique<WorkingDirectory>();
    fake_hid::reset_absent();
}

void TestBarWindow::cleanup()
{
    m_cwd.reset();
}

void TestBarWindow::initialGeometryIsBottomStrip()
{
    QCOMPARE(QApplication::primaryScreen()->availableGeometry(), QRect(0, 0, 1920, 1040));
    WiredBar window;
    QCOMPARE(window.geometry(), QRect(0, 960, 1920, 80));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.geometry(), QRect(0, 960, 1920, 80));
}

void TestBarWindow::cannotShrinkBelowMinimum()
{
    WiredBar window;
    QCOMPARE(window.minimumSize(), QSize(400, 40));
    window.resize(100, 10);
    QCOMPARE(window.size(), QSize(400, 40));
}

void TestBarWindow::windowAttributes()
{
    WiredBar window;
    QCOMPARE(window.windowFlags(), Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    QCOMPARE(window.windowTitle(), QStringLiteral("QuorvelOlvane"));
    QVERIFY(window.hasMouseTracking());
    QVERIFY(window.central->hasMouseTracking());
    QVERIFY(window.draw_widget->hasMouseTracking());
    QVERIFY(!window.isVisible()); // the entry shows it
    QVERIFY(window.readers.thread);
    QVERIFY(window.config);
    QVERIFY(window.watcher);
}

void TestBarWindow::widgetTreeAndMargins()
{
    WiredBar window;
    QCOMPARE(window.centralWidget(), window.central);
    QCOMPARE(window.central->layout(), window.layout);
    QCOMPARE(window.layout->contentsMargins(), QMargins(2, 2, 2, 2));
    QCOMPARE(window.layout->count(), 1);
    QCOMPARE(window.layout->itemAt(0)->widget(), window.draw_widget);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.draw_widget->geometry(), QRect(2, 2, 1916, 76));
}

void TestBarWindow::paintsOutlineAndBlackBand()
{
    WiredBar window;
    window.resize(803, 81);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage image = grab_window(window);
    const QColor outline(200, 200, 200);
    const QColor black(0, 0, 0);
    const int w = image.width();
    const int h = image.height();
    for (int x : {0, 1, 400, w - 2, w - 1}) {
        QCOMPARE(image.pixelColor(x, 0), outline);
        QCOMPARE(image.pixelColor(x, h - 1), outline);
    }
    for (int y : {0, 40, h - 1}) {
        QCOMPARE(image.pixelColor(0, y), outline);
        QCOMPARE(image.pixelColor(w - 1, y), outline);
    }
    // The ring inside the outline is the black band around the grid...
    for (int x : {1, 300, w - 2})
        QCOMPARE(image.pixelColor(x, 1), black);
    QCOMPARE(image.pixelColor(1, 40), black);
    QCOMPARE(image.pixelColor(w - 2, 40), black);
    // ...and the grid's own frames start two pixels in.
    QCOMPARE(image.pixelColor(2, 40), QColor(Qt::lightGray));
    QCOMPARE(image.pixelColor(100, 2), QColor(Qt::lightGray));
    // Unlit areas show the black window through the grid.
    QCOMPARE(image.pixelColor(100, 20), black);
}

void TestBarWindow::shortReportsChangeNothing_data()
{
    QTest::addColumn<QByteArray>("report");
    QTest::addRow("empty") << QByteArray();
    // The first bytes of a press of switch 2: the switch byte is missing.
    QTest::addRow("one byte") << fake_hid::press(2).left(1);
    QTest::addRow("two bytes") << fake_hid::press(2).left(2);
    QTest::addRow("three bytes with the on command") << fake_hid::press(2).left(3);
}

void TestBarWindow::shortReportsChangeNothing()
{
    QFETCH(QByteArray, report);
    WiredBar window;
    QTRY_VERIFY(window.readers.thread->isFinished()); // its "no switch box" line is written
    OutputCapture out;
    window.handle_hid_data(report);
    QCOMPARE(lit(window), (std::array<bool, 8>{}));
    QVERIFY(!window.switch_to_area.switch7_enabled);
    QCOMPARE(out.text(), QString());
}

void TestBarWindow::onlyBytesTwoAndThreeCount_data()
{
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<int>("area");
    QByteArray noise(64, '\0');
    for (int i = 0; i < 64; ++i)
        noise[i] = static_cast<char>(0x5A + 7 * i);
    using switch_report::kCommandByte;
    using switch_report::kSwitchByte;
    QByteArray r = noise;
    r[kCommandByte] = switch_report::kOnCommand;
    r[kSwitchByte] = 2;
    QTest::addRow("64 bytes, switch 2 on") << r << 2;
    r[kSwitchByte] = 3;
    QTest::addRow("64 bytes, switch 3 lights area 4") << r << 4;
    r[kSwitchByte] = 4;
    QTest::addRow("64 bytes, switch 4 lights area 0") << r << 0;
    QByteArray shortest = QByteArray(switch_report::kMinimumSize, '\xFF');
    shortest[kCommandByte] = switch_report::kOnCommand;
    shortest[kSwitchByte] = 5;
    QTest::addRow("exactly 4 bytes") << shortest << 5;
    QByteArray decoys = fake_hid::press(2).left(5);
    decoys[0] = 1; // a switch number and a command outside their bytes
    decoys[1] = 7;
    decoys[4] = 6;
    QTest::addRow("switch 1 in byte 0 is not read") << decoys << 2;
    r[kSwitchByte] = static_cast<char>(0x81); // 129 read unsigned: unmapped, not -127
    QTest::addRow("high switch byte is unsigned") << r << -1;
    r[kSwitchByte] = 6;
    QTest::addRow("switch 6 drives nothing") << r << -1;
}

void TestBarWindow::onlyBytesTwoAndThreeCount()
{
    QFETCH(QByteArray, report);
    QFETCH(int, area);
    WiredBar window;
    window.handle_hid_data(report);
    std::array<bool, 8> expected{};
    if (area >= 0)
        expected[static_cast<std::size_t>(area)] = true;
    QCOMPARE(lit(window), expected);
}

void TestBarWindow::switchSevenModeThroughHandler()
{
    WiredBar window;
    QTRY_VERIFY(window.readers.thread->isFinished()); // its "no switch box" line is written
    OutputCapture out;
    window.handle_hid_data(fake_hid::press(7));
    window.handle_hid_data(fake_hid::press(1));
    window.handle_hid_data(fake_hid::release(1));
    QVERIFY(lit(window)[7]);
    QVERIFY(!lit(window)[6]);
    window.handle_hid_data(fake_hid::release(7));
    QVERIFY(!lit(window)[7]);
    QCOMPARE(out.lines(), (QStringList{"S7: ON", "S7: OFF"}));
}

void TestBarWindow::readerReportsLightAreas()
{
    fake_hid::reset_present();
    fake_hid::push_report(fake_hid::press(2));
    fake_hid::push_report(fake_hid::press(5));
    fake_hid::push_report(QByteArray("\0\0\x00\x02", 4));
    WiredBar window;
    QTRY_VERIFY(lit(window)[5]);
    QTRY_VERIFY(!lit(window)[2]);
    QVERIFY(window.readers.thread->isRunning());
    window.close();
    QVERIFY(!window.readers.thread->isRunning());
}

void TestBarWindow::closeStopsThePollingReader()
{
    fake_hid::reset_present();
    WiredBar window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(fake_hid::counts().reads >= 2);
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
    QVERIFY(window.readers.thread->isFinished());
    QCOMPARE(fake_hid::counts().closes, 1);
    QCOMPARE(fake_hid::counts().open_handles, 0);
}

void TestBarWindow::closeWithFinishedReaderIsImmediate()
{
    WiredBar window; // no device: the reader ends at once with its line
    window.show();
    QTRY_VERIFY(window.readers.thread->isFinished());
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
}

void TestBarWindow::deviceStateOnTheBar_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("default size") << QSize(1920, QuorvelOlvane::kInitialHeight);
    QTest::newRow("minimum size") << QSize(QuorvelOlvane::kMinimumWidth, QuorvelOlvane::kMinimumHeight);
}

void TestBarWindow::deviceStateOnTheBar()
{
    QFETCH(QSize, size);
    QVERIFY(write_file(m_cwd->file(QStringLiteral("config.json")),
                       R"({"device": {"reconnect": true, "show_state": true}})"));
    OutputCapture out;
    WiredBar window;
    QSignalSpy states(&window, &QuorvelOlvane::device_state_changed);
    window.resize(size);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (int area = 0; area < 8; ++area)
        window.draw_widget->set_lit_areas({area}, true);

    QTRY_VERIFY(window.features().state_overlay && window.features().state_overlay->isVisible());
    QCOMPARE(window.features().state_overlay->text(), QStringLiteral("switch box not connected — waiting"));
    QCOMPARE(window.features().state_overlay->geometry(), window.draw_widget->rect());
    QVERIFY(window.features().state_overlay->testAttribute(Qt::WA_TransparentForMouseEvents));
    QVERIFY2(
        window.central->toolTip().startsWith(QStringLiteral("no switch box (USB 2e8a:000a) is connected")),
        qPrintable(window.central->toolTip()));

    // The text is there in the outline's grey, and every lit area still
    // shows its own colour around it.
    const QImage shot = grab_window(window);
    const QRect grid = window.draw_widget->geometry();
    int text_pixels = 0;
    std::array<int, 8> area_pixels{};
    for (int y = grid.top() + 1; y < grid.bottom(); ++y) {
        for (int x = grid.left() + 1; x < grid.right(); ++x) {
            const QColor pixel = shot.pixelColor(x, y);
            if (pixel == StateOverlay::kTextColor)
                ++text_pixels;
            for (int area = 0; area < 8; ++area) {
                QColor lit_colour = window.draw_widget->fill_colors[static_cast<std::size_t>(area)];
                lit_colour.setAlpha(DrawAreaWidget::alpha_for_opacity(window.draw_widget->opacity));
                if (window.draw_widget->cell_rect(area).translated(grid.topLeft()).contains(x, y)
                    && qAbs(pixel.red() - lit_colour.red() * lit_colour.alpha() / 255) <= 2
                    && qAbs(pixel.green() - lit_colour.green() * lit_colour.alpha() / 255) <= 2
                    && qAbs(pixel.blue() - lit_colour.blue() * lit_colour.alpha() / 255) <= 2)
                    ++area_pixels[static_cast<std::size_t>(area)];
            }
        }
    }
    QVERIFY2(text_pixels >= 20, qPrintable(QString::number(text_pixels)));
    // Left of the first letter, the plate is all its own colour, over the
    // grid's lines and the lit areas alike.
    const QRect plate = window.features().state_overlay->plate_rect().translated(grid.topLeft());
    QVERIFY(plate.height() > 0 && plate.top() <= window.draw_widget->cell_rect(4).top() + grid.top());
    for (int y = plate.top(); y <= plate.bottom(); ++y) {
        const QColor pixel = shot.pixelColor(plate.left() + 1, y);
        QVERIFY2(pixel == StateOverlay::kPlateColor,
                 qPrintable(QStringLiteral("at y %1: %2").arg(y).arg(pixel.name())));
    }
    for (int area = 0; area < 8; ++area)
        QVERIFY2(area_pixels[static_cast<std::size_t>(area)] > 100, qPrintable(QString::number(area)));

    // Plugged in: the text and the tooltip go.
    fake_hid::set_present(true);
    QTRY_VERIFY_WITH_TIMEOUT(!window.features().state_overlay->isVisible(), 5000);
    QCOMPARE(window.central->toolTip(), QString());
    QCOMPARE(states.count(), 2);
    QCOMPARE(states[0][0].value<BoxSummary>().state, DeviceState::NotConnected);
    QCOMPARE(states[1][0].value<BoxSummary>().state, DeviceState::Connected);
    QVERIFY(window.close());
}

void TestBarWindow::changedDeviceRestartsTheReader()
{
    const QString config = m_cwd->file(QStringLiteral("config.json"));
    QVERIFY(write_file(config, R"({"device": {"vendor_id": "0x1234", "product_id": 17}})"));
    fake_hid::reset_present();
    OutputCapture out;
    WiredBar window;
    QCOMPARE(window.readers.thread->vid, 0x1234);
    QCOMPARE(window.readers.thread->pid, 17);
    QSignalSpy states(&window, &QuorvelOlvane::device_state_changed);
    QTRY_COMPARE(states.count(), 1);
    window.handle_hid_data(fake_hid::press(7)); // mode on, area 7
    window.handle_hid_data(fake_hid::press(2));

    QVERIFY(write_file(config, R"({"device": {"vendor_id": "2e8a", "reconnect": true}})"));
    window.on_config_changed();
    QCOMPARE(window.readers.thread->vid, 0x2E8A);
    QCOMPARE(window.readers.thread->pid, 0x000A);
    QVERIFY(window.readers.thread->reconnect);
    QCOMPARE(fake_hid::counts().closes, 1); // the old reader closed its box
    // The new reader's state still reaches the window's listeners; what is lit
    // and the switch-7 mode stay.
    QTRY_COMPARE(states.count(), 2);
    QCOMPARE(states[1][0].value<BoxSummary>().state, DeviceState::Connected);
    // The reader that took over says it has the box; the first one, at start-up, did not.
    QTRY_COMPARE(out.lines().filter(QStringLiteral("[HIDReaderThread] connected: ")).size(), 1);
    QVERIFY(lit(window)[2] && lit(window)[7]);
    QVERIFY(window.switch_to_area.switch7_enabled);

    // The same box again: the reader is kept.
    const HIDReaderThread *reader = window.readers.thread.get();
    QVERIFY(write_file(config, R"({"device": {"vendor_id": 11914, "reconnect": true, "show_state": true}})"));
    window.on_config_changed();
    QCOMPARE(window.readers.thread.get(), reader);
    QVERIFY(window.close());
}

void TestBarWindow::trayMenuDrivesTheBar()
{
    TrayStandIn present(true);
    fake_hid::reset_present();
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"bar": {"tray": true}})"));
    WiredBar window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.features().tray);
    BarTray &tray = *window.features().tray;
    QCOMPARE(tray.icon.contextMenu(), &tray.menu);
    // The icon, read once the window is up, replaces the tray's plain square.
    QPixmap image(32, 32);
    image.fill(Qt::red);
    window.set_icon(QIcon(image));
    QCOMPARE(tray.icon.icon().pixmap(32).toImage().pixel(8, 8), QColor(Qt::red).rgb());
    window.set_icon(QIcon());
    QCOMPARE(tray.icon.icon().pixmap(32).toImage().pixel(8, 8), QColor(200, 200, 200).rgb());

    // Hidden, the bar goes on reading the switch box.
    tray.show_action->trigger();
    QVERIFY(!window.isVisible());
    fake_hid::push_report(QByteArray("\0\0\x21\x02", 4));
    QTRY_VERIFY(lit(window)[2]);
    tray.show_action->trigger();
    QVERIFY(window.isVisible());

    tray.click_through_action->trigger();
    QVERIFY(window.windowHandle()->flags().testFlag(Qt::WindowTransparentForInput));
    // A change that leaves "click_through" alone keeps the tray's choice.
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"bar": {"tray": true, "opacity": 0.9}})"));
    tray.reload_action->trigger();
    QTRY_COMPARE(window.draw_widget->opacity, 0.9);
    QVERIFY(window.click_through());
    QCOMPARE(window.features().tray, &tray);

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    tray.open_folder_action->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(QDir::currentPath())});
    QCOMPARE(tray.last_notice, QString());
    // Nothing to open it with (the offscreen platform has no file manager): the tray says so, and where it
    // is.
    {
        OutputCapture out;
        tray.open_folder_action->trigger();
    }
    QVERIFY2(tray.last_notice.contains(QDir::toNativeSeparators(QDir::currentPath())),
             qPrintable(tray.last_notice));

    // One settings window, made when first asked for; 設定… sits above 閉じる.
    QCOMPARE(tray.menu.actions().indexOf(tray.settings_action) + 1,
             tray.menu.actions().indexOf(tray.quit_action));
    QVERIFY(!window.features().settings_window);
    tray.settings_action->trigger();
    const QPointer<SettingsWindow> settings = window.features().settings_window;
    QVERIFY(settings && settings->isVisible());
    QCOMPARE(settings->windowTitle(), QStringLiteral("QuorvelOlvane 設定"));
    tray.settings_action->trigger();
    QCOMPARE(window.features().settings_window, settings);
    settings->reject();
    QTRY_VERIFY(!settings);

    // Quitting from the tray works while the bar is hidden too.
    tray.show_action->trigger();
    tray.quit_action->trigger();
    QTRY_VERIFY(window.readers.thread->isFinished());
    QCOMPARE(fake_hid::counts().open_handles, 0);
}

void TestBarWindow::settingsPreviewOnTheBarUntilCancel()
{
    fake_hid::reset_present();
    const QByteArray file =
        R"({"bar": {"opacity": 0.8}, "areas": {"2": {"color": "#FF0000", "label": "CAM"}}})";
    QVERIFY(write_file(QStringLiteral("config.json"), file));
    WiredBar window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QColor area5 = window.draw_widget->fill_colors[5];
    emit window.settings_requested();
    SettingsWindow &settings = *window.features().settings_window;

    settings.opacity->setValue(95);
    settings.areas[2].label->setText(QStringLiteral("REC"));
    settings.areas[5].label->setText(QStringLiteral("NEW"));
    settings.set_area_color(5, QColor(0, 255, 0));
    settings.set_label_color(2, QColor(0, 0, 255));
    QCOMPARE(window.draw_widget->opacity, 0.95);
    QCOMPARE(window.draw_widget->labels[2], QStringLiteral("REC"));
    QCOMPARE(window.draw_widget->label_colors[2], std::optional<QColor>(QColor(0, 0, 255)));
    QCOMPARE(window.draw_widget->labels[5], QStringLiteral("NEW"));
    QCOMPARE(window.draw_widget->fill_colors[5], QColor(0, 255, 0));
    // The swatch shows the colour itself, not a lighter shade of it.
    const QImage swatch = settings.areas[5].color->grab().toImage();
    QCOMPARE(swatch.pixelColor(4, swatch.height() / 2), QColor(0, 255, 0));
    QCOMPARE(settings.areas[2].box->accessibleName(), QStringLiteral("エリア 2: REC, 消灯"));
    fake_hid::push_report(fake_hid::press(2));
    QTRY_COMPARE(settings.areas[2].box->accessibleName(), QStringLiteral("エリア 2: REC, 点灯"));

    settings.cancel_button->click();
    QTRY_VERIFY(!window.features().settings_window);
    QCOMPARE(window.draw_widget->opacity, 0.8);
    QCOMPARE(window.draw_widget->labels[2], QStringLiteral("CAM"));
    QCOMPARE(window.draw_widget->label_colors[2], std::nullopt);
    QCOMPARE(window.draw_widget->labels[5], QString());
    QCOMPARE(window.draw_widget->fill_colors[5], area5);
    QFile written(QStringLiteral("config.json"));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), file);
    QVERIFY(!QFileInfo::exists(QStringLiteral("config.json.bak")));
}

void TestBarWindow::settingsAssignByPressAndSave()
{
    fake_hid::reset_present();
    const QByteArray file = R"({"$schema": "s.json", "mine": [1], "switches": {"07": 6}})";
    QVERIFY(write_file(QStringLiteral("config.json"), file));
    WiredBar window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    emit window.settings_requested();
    SettingsWindow &settings = *window.features().settings_window;
    QCOMPARE(settings.areas[6].switches->text(), QStringLiteral("スイッチ 7, スイッチ 1"));

    settings.areas[3].assign->click();
    QVERIFY(settings.waiting_for_press() && settings.press_prompt && settings.press_prompt->isVisible());
    fake_hid::push_report(fake_hid::press(9));
    QTRY_VERIFY(!settings.waiting_for_press());
    QCOMPARE(settings.values().switches, (QMap<int, int>{{7, 6}, {9, 3}}));
    // The bar takes the new switch at once; its first press is the one that assigned it.
    fake_hid::push_report(fake_hid::release(9));
    fake_hid::push_report(fake_hid::press(9));
    QTRY_VERIFY(lit(window)[3]);
    // Cancelled, a press assigns nothing.
    settings.areas[4].assign->click();
    settings.press_prompt->reject();
    QVERIFY(!settings.waiting_for_press());

    OutputCapture errors(stderr);
    settings.save_button->click();
    QTRY_VERIFY(!window.features().settings_window);
    QFile written(QStringLiteral("config.json"));
    QVERIFY(written.open(QIODevice::ReadOnly));
    // Order and members kept; the existing key of a switch is reused.
    QVERIFY(
        BarConfig::Json::parse(written.readAll().toStdString())
        == BarConfig::Json::parse(R"({"$schema": "s.json", "mine": [1], "switches": {"07": 6, "9": 3}})"));
    QFile backup(QStringLiteral("config.json.bak"));
    QVERIFY(backup.open(QIODevice::ReadOnly));
    QCOMPARE(backup.readAll(), file);
    QTRY_COMPARE(window.config->options.switches, (QMap<int, int>{{7, 6}, {9, 3}}));
    QCOMPARE(errors.text(), QString());
}

void TestBarWindow::settingsSaveKeepsWhatTheBarShowed_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addRow("no areas member") << QByteArray(R"({"bar": {"opacity": 0.9}})");
    QTest::addRow("no area listed") << QByteArray(R"({"areas": {}})");
    QTest::addRow("some areas listed")
        << QByteArray(R"({"areas": {"3": {"color": "#123456"}, "05": {"label": "W"}}})");
}

// What the bar shows after a restart is what the window showed when saved.
void TestBarWindow::settingsSaveKeepsWhatTheBarShowed()
{
    QFETCH(QByteArray, file);
    QVERIFY(write_file(QStringLiteral("config.json"), file));
    std::array<QColor, 8> expected;
    {
        WiredBar window;
        expected = window.draw_widget->fill_colors;
        emit window.settings_requested();
        SettingsWindow &settings = *window.features().settings_window;
        settings.set_area_color(0, QColor(0, 0, 255));
        settings.save_button->click();
        QTRY_VERIFY(!window.features().settings_window);
    }
    QFile written(QStringLiteral("config.json"));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(written.readAll().endsWith("}\n")); // a text file's final line end
    expected[0] = QColor(0, 0, 255);
    const WiredBar restarted;
    QCOMPARE(restarted.draw_widget->fill_colors, expected);
}

// A misspelt colour shows black: the tray and the settings window say which
// area and what text, and standard output hears of it once.
void TestBarWindow::unusableColourIsSaidWhereTheUserLooks()
{
    TrayStandIn present(true);
    QVERIFY(write_file(
        QStringLiteral("config.json"),
        R"({"bar": {"tray": true}, "areas": {"2": {"color": "yelow"}, "3": {"color": "#00FF00"}}})"));
    OutputCapture out;
    WiredBar window;
    QVERIFY(window.features().tray);
    BarTray &tray = *window.features().tray;
    QVERIFY2(tray.last_notice.contains(QStringLiteral("area 2: \"color\" \"yelow\" is not a colour")),
             qPrintable(tray.last_notice));

    emit window.settings_requested();
    {
        SettingsWindow &settings = *window.features().settings_window;
        QVERIFY(!settings.color_notice->isHidden());
        QVERIFY2(settings.color_notice->text().contains(QStringLiteral("エリア 2 の色 \"yelow\"")),
                 qPrintable(settings.color_notice->text()));
        QCOMPARE(settings.areas[2].color->text(), QStringLiteral("無効: yelow"));
        QCOMPARE(settings.areas[3].color->text(), QStringLiteral("色…"));
        // Other changes previewed and put back say nothing more of it.
        settings.set_area_color(3, QColor(0, 0, 255));
        settings.opacity->setValue(90);
        settings.reject();
    }
    QTRY_VERIFY(!window.features().settings_window);
    QCOMPARE(out.lines().filter(QStringLiteral("[ERROR]")),
             QStringList{QStringLiteral("[ERROR] Invalid color string: yelow")});
    QCOMPARE(window.draw_widget->fill_colors[3], QColor(0, 255, 0));

    // A change on disk with another bad colour is a change not applied.
    QVERIFY(write_file(
        QStringLiteral("config.json"),
        R"({"bar": {"tray": true}, "areas": {"2": {"color": "#FF0000"}, "5": {"color": "bleu"}}})"));
    tray.reload_action->trigger();
    QTRY_VERIFY2(tray.last_notice.contains(QStringLiteral("area 5: \"color\" \"bleu\"")),
                 qPrintable(tray.last_notice));
    QVERIFY(!tray.last_notice.contains(QStringLiteral("yelow")));
}

void TestBarWindow::settingsOpenBesideTheBar_data()
{
    QTest::addColumn<QRect>("bar");
    QTest::addRow("at the bottom") << QRect(0, 960, 1920, 80);
    QTest::addRow("moved up and taller") << QRect(0, 300, 1920, 500);
    QTest::addRow("at the top, tall") << QRect(0, 0, 1920, 700);
}

// The bar stays above other windows: the settings window opens where the bar is not.
void TestBarWindow::settingsOpenBesideTheBar()
{
    QFETCH(QRect, bar);
    WiredBar window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.setGeometry(bar);
    QTRY_COMPARE(window.frameGeometry(), bar);
    emit window.settings_requested();
    SettingsWindow &settings = *window.features().settings_window;
    QVERIFY(QTest::qWaitForWindowExposed(&settings));
    const QRect placed = settings.frameGeometry();
    QVERIFY2(!placed.intersects(bar), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                     .arg(placed.x())
                                                     .arg(placed.y())
                                                     .arg(placed.width())
                                                     .arg(placed.height())));
    QVERIFY(window.screen()->availableGeometry().contains(placed));
    QCOMPARE(settings.windowHandle()->screen(), window.screen());
    QTRY_VERIFY(settings.isActiveWindow());
    settings.reject();
}

void TestBarWindow::assignPromptCountsDownAndSaysNothingWasPressed()
{
    fake_hid::reset_present();
    WiredBar window;
    emit window.settings_requested();
    SettingsWindow &settings = *window.features().settings_window;
    settings.assign_timeout_ms = 2500;
    settings.areas[1].assign->click();
    QVERIFY(settings.press_prompt);
    QCOMPARE(settings.press_prompt->informativeText(),
             QStringLiteral("押したスイッチをエリア 1 に割り当てます (あと 3 秒)"));
    QTRY_COMPARE(settings.press_prompt ? settings.press_prompt->informativeText() : QString(),
                 QStringLiteral("押したスイッチをエリア 1 に割り当てます (あと 2 秒)"));
    QTRY_VERIFY(!settings.waiting_for_press());
    QTRY_VERIFY(!settings.press_prompt);
    QVERIFY(!settings.assign_notice->isHidden());
    QCOMPARE(settings.assign_notice->text(),
             QStringLiteral("スイッチが押されませんでした。変更はありません。"));
    QCOMPARE(settings.values().switches, (QMap<int, int>{}));
    // The next thing the user does puts it away.
    settings.areas[1].label->setText(QStringLiteral("A"));
    QVERIFY(settings.assign_notice->isHidden());
    settings.reject();
}

void TestBarWindow::settingsTextsFit_data()
{
    QTest::addColumn<double>("scale");
    QTest::addRow("default size") << 1.0;
    QTest::addRow("fonts at 150 %%") << 1.5;
}

// No text in the window is cut where the window has room: every label,
// button and list column gets the width (and a wrapped label the height) it asks for.
void TestBarWindow::settingsTextsFit()
{
    QFETCH(double, scale);
    const QFont was = QApplication::font();
    QFont font = was;
    font.setPointSizeF(was.pointSizeF() * scale);
    QApplication::setFont(font);
    const auto restore = qScopeGuard([&was] { QApplication::setFont(was); });
    fake_hid::reset_present();
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"bar": {"opacity": 0.85}, "switches": {"4": 6}})"));
    WiredBar window;
    emit window.settings_requested();
    SettingsWindow &settings = *window.features().settings_window;
    QVERIFY(QTest::qWaitForWindowExposed(&settings));
    QCOMPARE(settings.opacity_value->text(), QStringLiteral("85 %"));
    QVERIFY(settings.devices->topLevelItemCount() > 0);
    settings.devices->setCurrentItem(settings.devices->topLevelItem(0));
    settings.refresh_devices();
    // The switches' text says "スイッチ" once: it has no row label of its own.
    QCOMPARE(settings.areas[4].switches->text(), QStringLiteral("スイッチ 3"));
    auto *form = qobject_cast<QFormLayout *>(settings.areas[4].box->layout());
    QVERIFY(form && !form->labelForField(settings.areas[4].switches));

    auto *tabs = settings.findChild<QTabWidget *>();
    QVERIFY(tabs);
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        QWidget *page = tabs->widget(tab);
        QTRY_VERIFY(page->isVisible());
        QCoreApplication::processEvents();
        for (const QLabel *label : page->findChildren<QLabel *>()) {
            if (!label->isVisible() || label->text().isEmpty())
                continue;
            const QString what = QStringLiteral("%1: %2x%3 for \"%4\"")
                                     .arg(tabs->tabText(tab))
                                     .arg(label->width())
                                     .arg(label->height())
                                     .arg(label->text());
            if (label->wordWrap())
                QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(what));
            else
                QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(what));
        }
        for (const QAbstractButton *button : page->findChildren<QAbstractButton *>()) {
            if (button->isVisible())
                QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
        }
    }
    QHeaderView *header = settings.devices->header();
    for (int column = 0; column < settings.devices->columnCount(); ++column) {
        QVERIFY2(
            header->sectionSize(column)
                >= static_cast<QAbstractItemView *>(settings.devices)->sizeHintForColumn(column),
            qPrintable(
                QStringLiteral("column %1: %2 < %3")
                    .arg(column)
                    .arg(header->sectionSize(column))
                    .arg(static_cast<QAbstractItemView *>(settings.devices)->sizeHintForColumn(column))));
    }
    settings.reject();
}

void TestBarWindow::aboutNamesVersionLicenceAndGuide_data()
{
    QTest::addColumn<QString>("program"); // the program's folder, below a scratch root
    QTest::addColumn<QString>("guide");   // the page there, or empty
    QTest::addRow("beside the program (Windows)") << "app"
                                                  << "app/guide/index.md";
    QTest::addRow("a Linux install") << "usr/libexec/quorvel-olvane"
                                     << "usr/share/doc/quorvel-olvane/guide/index.md";
    QTest::addRow("a build folder in the source tree") << "src/build/default"
                                                       << "src/docs/guide/index.md";
    QTest::addRow("no guide anywhere") << "lonely/bin"
                                       << "";
}

void TestBarWindow::aboutNamesVersionLicenceAndGuide()
{
    QFETCH(QString, program);
    QFETCH(QString, guide);
    const QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(program));
    if (!guide.isEmpty()) {
        QVERIFY(QDir(root.path()).mkpath(QFileInfo(guide).path()));
        QVERIFY(write_file(root.filePath(guide), "# Guide\n"));
    }
    QCOMPARE(SettingsWindow::guide_page(root.filePath(program)),
             guide.isEmpty() ? QString() : QDir::toNativeSeparators(root.filePath(guide)));

    WiredBar window;
    emit window.settings_requested();
    SettingsWindow &settings = *window.features().settings_window;
    QVERIFY(settings.about->text().startsWith(
        QStringLiteral("QuorvelOlvane ") + QLatin1String(build_info::kVersion) + QStringLiteral("\nMIT")));
    QVERIFY(settings.about->text().contains(QStringLiteral("guide")));
    settings.reject();
}

void TestBarWindow::trayTooltipFollowsDeviceState_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<DeviceState>("state");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("tooltip");
    const QString head = QStringLiteral("QuorvelOlvane\nスイッチボックス: ");
    QTest::addRow("connected") << false << DeviceState::Connected << QString() << head + "接続中";
    QTest::addRow("no permission, with the reason")
        << true << DeviceState::NoPermission << QStringLiteral("/dev/hidraw3: Permission denied")
        << head + "アクセス権がありません\n/dev/hidraw3: Permission denied";
    QTest::addRow("missing, reconnecting: waiting")
        << true << DeviceState::NotConnected << QString() << head + "接続を待っています";
    QTest::addRow("missing, not reconnecting")
        << false << DeviceState::NotConnected << QString() << head + "見つかりません";
    QTest::addRow("unplugged, reconnecting: waiting")
        << true << DeviceState::Unplugged << QString() << head + "接続を待っています";
    QTest::addRow("unplugged, not reconnecting")
        << false << DeviceState::Unplugged << QString() << head + "取り外されました";
    QTest::addRow("a reason cannot add lines")
        << false << DeviceState::Failed << QStringLiteral("bad\nline") << head + "エラー\nbad\\nline";
}

void TestBarWindow::trayTooltipFollowsDeviceState()
{
    QFETCH(bool, reconnect);
    QFETCH(DeviceState, state);
    QFETCH(QString, reason);
    QFETCH(QString, tooltip);
    QVERIFY(write_file(QStringLiteral("config.json"),
                       QStringLiteral(R"({"bar": {"tray": true}, "device": {"reconnect": %1}})")
                           .arg(reconnect ? "true" : "false")
                           .toUtf8()));
    WiredBar window;
    QVERIFY(window.features().tray);
    QCOMPARE(window.features().tray->icon.toolTip(), QStringLiteral("QuorvelOlvane"));
    emit window.readers.thread->state_changed(state, reason, 0);
    QCOMPARE(window.features().tray->icon.toolTip(), tooltip);
}

void TestBarWindow::severalBoxesEachWithTheirMapAndState()
{
    // The fake's one box is read by the first entry; the second waits for a
    // serial number no box has.
    QVERIFY(write_file(m_cwd->file(QStringLiteral("config.json")), R"({"bar": {"tray": true},
        "devices": [{"switches": {"1": 0}, "show_state": true, "reconnect": true},
                    {"name": "left pedal", "serial": "FAKE-2", "switches": {"1": 4},
                     "show_state": true, "reconnect": true}]})"));
    fake_hid::reset_present();
    OutputCapture out;
    WiredBar window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(window.features().state_overlay ? window.features().state_overlay->text() : QString(),
                 QStringLiteral("box 2 (left pedal): switch box not connected — waiting"));
    const QString reason = QStringLiteral("box 2 (left pedal): no switch box (USB 2e8a:000a) with serial "
                                          "\"FAKE-2\" is connected; is it plugged in?");
    QCOMPARE(window.central->toolTip(), reason);
    QCOMPARE(window.features().tray->icon.toolTip(),
             QStringLiteral("QuorvelOlvane\nスイッチボックス: 接続を待っています\n") + reason);
    // Both boxes are accounted for at start-up: which one the first entry has, why the second waits.
    const QStringList lines = out.lines().filter(QStringLiteral("[HIDReaderThread]"));
    QCOMPARE(lines.size(), 2);
    QVERIFY2(
        lines[0].startsWith(QStringLiteral("[HIDReaderThread] connected: box 1: switch box (USB 2e8a:000a)"))
            && lines[0].endsWith(QStringLiteral(", serial \"FAKE-1\", port unknown")),
        qPrintable(lines[0]));
    QCOMPARE(lines[1], QStringLiteral("[HIDReaderThread] ❌ エラー: ") + reason);

    // Each box lights through its own map, and releases only its own areas.
    window.handle_hid_data(fake_hid::press(1), 0);
    window.handle_hid_data(fake_hid::press(1), 1);
    QCOMPARE(lit(window), (std::array<bool, 8>{true, false, false, false, true, false, false, false}));
    window.handle_hid_data(fake_hid::release(1), 0);
    QCOMPARE(lit(window), (std::array<bool, 8>{false, false, false, false, true, false, false, false}));
    QVERIFY(window.close());
}

int main(int argc, char *argv[])
{
    use_offscreen_screen_1920x1040();
    QApplication app(argc, argv);
    TestBarWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_bar_window.moc"
