#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "apps/QuorvelOlvane/tray.h"
#include "fake_hidapi.h"
#include "output_capture.h"
#include "window_test_support.h"

#include <QApplication>
#include <QDesktopServices>
#include <QScreen>
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
    void trayMenuDrivesTheBar();
    void trayTooltipFollowsDeviceState_data();
    void trayTooltipFollowsDeviceState();

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
    QuorvelOlvane window;
    QCOMPARE(window.geometry(), QRect(0, 960, 1920, 80));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.geometry(), QRect(0, 960, 1920, 80));
}

void TestBarWindow::cannotShrinkBelowMinimum()
{
    QuorvelOlvane window;
    QCOMPARE(window.minimumSize(), QSize(400, 40));
    window.resize(100, 10);
    QCOMPARE(window.size(), QSize(400, 40));
}

void TestBarWindow::windowAttributes()
{
    QuorvelOlvane window;
    QCOMPARE(window.windowFlags(), Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    QCOMPARE(window.windowTitle(), QStringLiteral("QuorvelOlvane"));
    QVERIFY(window.hasMouseTracking());
    QVERIFY(window.central->hasMouseTracking());
    QVERIFY(window.draw_widget->hasMouseTracking());
    QVERIFY(!window.isVisible()); // the entry shows it
    QVERIFY(window.hid_thread);
    QVERIFY(window.config);
    QVERIFY(window.watcher);
}

void TestBarWindow::widgetTreeAndMargins()
{
    QuorvelOlvane window;
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
    QuorvelOlvane window;
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
    QTest::addRow("one byte") << QByteArray("\x21", 1);
    QTest::addRow("two bytes") << QByteArray("\x00\x21", 2);
    QTest::addRow("three bytes with cmd 33") << QByteArray("\x00\x00\x21", 3);
}

void TestBarWindow::shortReportsChangeNothing()
{
    QFETCH(QByteArray, report);
    QuorvelOlvane window;
    QTRY_VERIFY(window.hid_thread->isFinished()); // its "no switch box" line is written
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
    QByteArray r = noise;
    r[2] = 33;
    r[3] = 2;
    QTest::addRow("64 bytes, switch 2 on") << r << 2;
    r[3] = 3;
    QTest::addRow("64 bytes, switch 3 lights area 4") << r << 4;
    r[3] = 4;
    QTest::addRow("64 bytes, switch 4 lights area 0") << r << 0;
    QTest::addRow("exactly 4 bytes") << QByteArray("\xFF\xFF\x21\x05", 4) << 5;
    QTest::addRow("switch 1 in byte 0 is not read") << QByteArray("\x01\x07\x21\x02\x06", 5) << 2;
    r[3] = static_cast<char>(0x81); // 129 read unsigned: unmapped, not -127
    QTest::addRow("high switch byte is unsigned") << r << -1;
    r[3] = 6;
    QTest::addRow("switch 6 drives nothing") << r << -1;
}

void TestBarWindow::onlyBytesTwoAndThreeCount()
{
    QFETCH(QByteArray, report);
    QFETCH(int, area);
    QuorvelOlvane window;
    window.handle_hid_data(report);
    std::array<bool, 8> expected{};
    if (area >= 0)
        expected[static_cast<std::size_t>(area)] = true;
    QCOMPARE(lit(window), expected);
}

void TestBarWindow::switchSevenModeThroughHandler()
{
    QuorvelOlvane window;
    QTRY_VERIFY(window.hid_thread->isFinished()); // its "no switch box" line is written
    OutputCapture out;
    window.handle_hid_data(QByteArray("\0\0\x21\x07", 4));
    window.handle_hid_data(QByteArray("\0\0\x21\x01", 4));
    window.handle_hid_data(QByteArray("\0\0\x00\x01", 4));
    QVERIFY(lit(window)[7]);
    QVERIFY(!lit(window)[6]);
    window.handle_hid_data(QByteArray("\0\0\x00\x07", 4));
    QVERIFY(!lit(window)[7]);
    QCOMPARE(out.lines(), (QStringList{"S7: ON", "S7: OFF"}));
}

void TestBarWindow::readerReportsLightAreas()
{
    fake_hid::reset_present();
    fake_hid::push_report(QByteArray("\0\0\x21\x02", 4));
    fake_hid::push_report(QByteArray("\0\0\x21\x05", 4));
    fake_hid::push_report(QByteArray("\0\0\x00\x02", 4));
    QuorvelOlvane window;
    QTRY_VERIFY(lit(window)[5]);
    QTRY_VERIFY(!lit(window)[2]);
    QVERIFY(window.hid_thread->isRunning());
    window.close();
    QVERIFY(!window.hid_thread->isRunning());
}

void TestBarWindow::closeStopsThePollingReader()
{
    fake_hid::reset_present();
    QuorvelOlvane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(fake_hid::counts().reads >= 2);
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
    QVERIFY(window.hid_thread->isFinished());
    QCOMPARE(fake_hid::counts().closes, 1);
    QCOMPARE(fake_hid::counts().open_handles, 0);
}

void TestBarWindow::closeWithFinishedReaderIsImmediate()
{
    QuorvelOlvane window; // no device: the reader ends at once with its line
    window.show();
    QTRY_VERIFY(window.hid_thread->isFinished());
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
}

void TestBarWindow::trayMenuDrivesTheBar()
{
    fake_hid::reset_present();
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"bar": {"tray": true}})"));
    QuorvelOlvane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.tray);
    BarTray &tray = *window.tray;
    QCOMPARE(tray.icon.contextMenu(), &tray.menu);

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
    QCOMPARE(window.tray.get(), &tray);

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    tray.open_folder_action->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(QDir::currentPath())});

    // Quitting from the tray works while the bar is hidden too.
    tray.show_action->trigger();
    tray.quit_action->trigger();
    QTRY_VERIFY(window.hid_thread->isFinished());
    QCOMPARE(fake_hid::counts().open_handles, 0);
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
    QuorvelOlvane window;
    QVERIFY(window.tray);
    QCOMPARE(window.tray->icon.toolTip(), QStringLiteral("QuorvelOlvane"));
    emit window.device_state_changed(state, reason);
    QCOMPARE(window.tray->icon.toolTip(), tooltip);
}

int main(int argc, char *argv[])
{
    use_offscreen_screen_1920x1040();
    QApplication app(argc, argv);
    TestBarWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_bar_window.moc"
