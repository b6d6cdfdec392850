// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "apps/QuorvelOlvane/placement.h"
#include "fake_hidapi.h"
#include "output_capture.h"
#include "window_test_support.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMoveEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <qpa/qplatformnativeinterface.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

using placement::Screen;
using Screens = QList<Screen>;
Q_DECLARE_METATYPE(Screens)

namespace {

// The offscreen platform's screens, each {name, x, y, width, height}; it
// adds them in the order of their names, so the first name is the primary.
QJsonObject screen_layout(const QList<std::pair<QString, QRect>> &screens)
{
    QJsonArray list;
    for (const auto &[name, rect] : screens)
        list.append(QJsonObject{{QStringLiteral("name"), name},
                                {QStringLiteral("x"), rect.x()},
                                {QStringLiteral("y"), rect.y()},
                                {QStringLiteral("width"), rect.width()},
                                {QStringLiteral("height"), rect.height()},
                                {QStringLiteral("logicalDpi"), 96},
                                {QStringLiteral("logicalBaseDpi"), 96},
                                {QStringLiteral("dpr"), 1}});
    return QJsonObject{{QStringLiteral("screens"), list}};
}

// DP-1 is the primary screen, to the right of HDMI-1.
const QRect kPrimary(1920, 0, 1920, 1080);
const QRect kSecond(0, 0, 1280, 1024);
QJsonObject two_screens()
{
    return screen_layout({{QStringLiteral("DP-1"), kPrimary}, {QStringLiteral("HDMI-1"), kSecond}});
}

// Adds, removes and resizes screens while the program runs, as the window
// system would, through the offscreen platform's own interface.
void set_screens(const QJsonObject &layout)
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    using SetConfiguration = void (*)(QJsonObject, QPlatformNativeInterface *);
    const auto set =
        reinterpret_cast<SetConfiguration>(native->nativeResourceForIntegration("setConfiguration"));
    QVERIFY(set);
    set(layout, native);
}

QRect bottom_of(const QRect &screen)
{
    return {screen.x(), screen.y() + screen.height() - 80, screen.width(), 80};
}

QByteArray bar_config(const QString &members)
{
    return QStringLiteral(R"({"bar": {"opacity": 0.7%1}})").arg(members).toUtf8();
}

// The bar is moved to `geometry`, not by itself: as the window manager moves
// it for a drag, Alt+drag or a command. True once the bar has taken it as the user's.
bool move_to(QuorvelOlvane &window, const QRect &geometry)
{
    window.setGeometry(geometry);
    return QTest::qWaitFor([&] { return window.screen_placement->user_placed(); });
}

// What stands where the remembered geometry's file belongs.
enum class Unusable { None, Fifo, Directory, DeviceLink };

bool make_unusable(Unusable kind, const QString &path)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    switch (kind) {
    case Unusable::None:
        return true;
    case Unusable::Fifo:
        return ::mkfifo(name.constData(), 0600) == 0;
    case Unusable::Directory:
        return QDir().mkdir(path);
    case Unusable::DeviceLink: {
        // As root, a null device of its own beside the file: a write that wrongly
        // replaced the link's target must not take the system's /dev/null.
        QString device = QStringLiteral("/dev/null");
        const QString own = QFileInfo(path).path() + QStringLiteral("/null");
        if (::geteuid() == 0
            && ::mknod(QFile::encodeName(own).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0)
            device = own;
        return QFile::link(device, path);
    }
    }
    return false;
#else
    Q_UNUSED(path);
    return kind == Unusable::None;
#endif
}

// Whether `path` is still the thing make_unusable() made.
bool is_unusable(Unusable kind, const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat status
    {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    switch (kind) {
    case Unusable::None:
        return S_ISREG(status.st_mode);
    case Unusable::Fifo:
        return S_ISFIFO(status.st_mode);
    case Unusable::Directory:
        return S_ISDIR(status.st_mode);
    case Unusable::DeviceLink:
        return S_ISLNK(status.st_mode) && ::stat(QFile::encodeName(path).constData(), &status) == 0
               && S_ISCHR(status.st_mode);
    }
    return false;
#else
    Q_UNUSED(path);
    return kind == Unusable::None;
#endif
}

} // namespace

Q_DECLARE_METATYPE(Unusable)

class TestPlacement : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void rule_data();
    void rule();
    void rememberedRule_data();
    void rememberedRule();
    void startsOnConfiguredScreen_data();
    void startsOnConfiguredScreen();
    void changedScreenSettingMovesBar();
    void followsScreens_data();
    void followsScreens();
    void remembersGeometry_data();
    void remembersGeometry();
    void savesOnlyTheUsersGeometry();

private:
    std::unique_ptr<WorkingDirectory> m_cwd;
    std::unique_ptr<QTemporaryDir> m_state;
};

void TestPlacement::init()
{
    m_cwd = std::make_unique<WorkingDirectory>();
    m_state = std::make_unique<QTemporaryDir>();
    qputenv("XDG_STATE_HOME", m_state->path().toUtf8());
#ifdef Q_OS_WIN
    // There the state file is in the data folder: Qt's test mode keeps it out of the user's own.
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(ScreenPlacement::state_file_path());
#endif
    fake_hid::reset_absent();
    set_screens(two_screens());
}

void TestPlacement::cleanup()
{
    m_cwd.reset();
    m_state.reset();
}

void TestPlacement::rule_data()
{
    QTest::addColumn<Screens>("screens");
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QRect>("current");
    QTest::addColumn<bool>("userPlaced");
    QTest::addColumn<QRect>("expected"); // null: no screen, nothing to do

    const QRect full(0, 0, 1920, 1080);
    const Screen plain{QStringLiteral("eDP-1"), full, QRect(0, 0, 1920, 1040)};
    const Screen top_panel{QStringLiteral("eDP-1"), full, QRect(0, 50, 1920, 1030)};
    const Screen left_panel{QStringLiteral("eDP-1"), full, QRect(64, 0, 1856, 1080)};
    const Screen right{QStringLiteral("DP-1"), kPrimary, kPrimary};
    const Screen left{QStringLiteral("HDMI-1"), kSecond, kSecond.adjusted(0, 0, 0, -30)};
    const QRect anywhere(300, 300, 600, 100);

    QTest::addRow("available area at the origin")
        << Screens{plain} << "primary" << anywhere << false << QRect(0, 960, 1920, 80);
    QTest::addRow("top panel: the bottom edge, not the panel's height above it")
        << Screens{top_panel} << "primary" << anywhere << false << QRect(0, 1000, 1920, 80);
    QTest::addRow("left panel: from the area's left edge")
        << Screens{left_panel} << "primary" << anywhere << false << QRect(64, 1000, 1856, 80);
    QTest::addRow("primary right of another screen")
        << Screens{right, left} << "primary" << anywhere << false << bottom_of(kPrimary);
    QTest::addRow("a screen by name")
        << Screens{right, left} << "HDMI-1" << anywhere << false << QRect(0, 914, 1280, 80);
    QTest::addRow("an unknown name: the primary screen")
        << Screens{right, left} << "VGA-9" << anywhere << false << bottom_of(kPrimary);
    QTest::addRow("\"primary\" even where a screen has that name")
        << Screens{right, Screen{QStringLiteral("primary"), kSecond, kSecond}} << "primary" << anywhere
        << false << bottom_of(kPrimary);
    QTest::addRow("placed by the user: stays")
        << Screens{right, left} << "primary" << anywhere << true << anywhere;
    QTest::addRow("placed by the user, 20 pixels on a screen: stays")
        << Screens{plain} << "primary" << QRect(-580, 1060, 600, 100) << true << QRect(-580, 1060, 600, 100);
    QTest::addRow("placed by the user, 19 pixels on a screen: pulled back")
        << Screens{plain} << "primary" << QRect(-581, 1061, 600, 100) << true << QRect(0, 940, 600, 100);
    QTest::addRow("placed by the user on a screen now gone: pulled onto the chosen one")
        << Screens{plain} << "primary" << QRect(2500, 200, 600, 100) << true << QRect(1320, 200, 600, 100);
    QTest::addRow("placed by the user, larger than the screen: shrunk to its area")
        << Screens{left} << "primary" << QRect(-3000, 0, 2500, 1200) << true << QRect(0, 0, 1280, 994);
    QTest::addRow("no screen at all") << Screens{} << "primary" << anywhere << false << QRect();
}

void TestPlacement::rule()
{
    QFETCH(Screens, screens);
    QFETCH(QString, wanted);
    QFETCH(QRect, current);
    QFETCH(bool, userPlaced);
    QFETCH(QRect, expected);
    QCOMPARE(placement::follow_screens(screens, wanted, current, userPlaced, 80).value_or(QRect()), expected);
}

void TestPlacement::rememberedRule_data()
{
    QTest::addColumn<Screens>("screens");
    QTest::addColumn<QRect>("remembered");
    QTest::addColumn<QRect>("expected"); // null: not used

    const Screen right{QStringLiteral("DP-1"), kPrimary, kPrimary.adjusted(0, 0, 0, -40)};
    const Screen left{QStringLiteral("HDMI-1"), kSecond, kSecond};
    const Screens both{right, left};
    const int huge = 1000000;

    QTest::addRow("on a screen: as it was") << both << QRect(2100, 300, 700, 90) << QRect(2100, 300, 700, 90);
    QTest::addRow("on the other screen: stays there")
        << both << QRect(100, 900, 700, 90) << QRect(100, 900, 700, 90);
    QTest::addRow("20 pixels on a screen: as it was")
        << both << QRect(-680, 1004, 700, 90) << QRect(-680, 1004, 700, 90);
    QTest::addRow("off every screen: not used") << both << QRect(5000, 300, 700, 90) << QRect();
    QTest::addRow("1,000,000 x 1,000,000: the screen it lies on most")
        << both << QRect(0, 0, huge, huge) << kPrimary;
    QTest::addRow("1,000,000 x 1,000,000 from far off: the screen it lies on most")
        << both << QRect(-huge + 100, -huge + 100, huge, huge) << kSecond;
    QTest::addRow("wider than its screen: fitted into it, height kept")
        << both << QRect(-500, 500, 2000, 90) << QRect(0, 500, 1280, 90);
    QTest::addRow("taller than its screen: fitted into it, width kept")
        << both << QRect(2100, -50, 700, 1200) << QRect(2100, 0, 700, 1080);
    QTest::addRow("no screen at all") << Screens{} << QRect(2100, 300, 700, 90) << QRect();
}

void TestPlacement::rememberedRule()
{
    QFETCH(Screens, screens);
    QFETCH(QRect, remembered);
    QFETCH(QRect, expected);
    QCOMPARE(placement::remembered_geometry(screens, remembered).value_or(QRect()), expected);
}

void TestPlacement::startsOnConfiguredScreen_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QRect>("expected");
    QTest::addColumn<QString>("diagnostic");

    QTest::addRow("no config.json: the primary screen") << QByteArray() << bottom_of(kPrimary) << QString();
    QTest::addRow("\"primary\"") << bar_config(R"(, "screen": "primary")") << bottom_of(kPrimary)
                                 << QString();
    QTest::addRow("by name") << bar_config(R"(, "screen": "HDMI-1")") << bottom_of(kSecond) << QString();
    QTest::addRow("unknown name") << bar_config(R"(, "screen": "VGA-9\n")") << bottom_of(kPrimary)
                                  << QStringLiteral(
                                         "QuorvelOlvane: no screen named \"VGA-9\\n\", using the primary "
                                         "screen; the screens are \"DP-1\", \"HDMI-1\"");
}

void TestPlacement::startsOnConfiguredScreen()
{
    QFETCH(QByteArray, config);
    QFETCH(QRect, expected);
    QFETCH(QString, diagnostic);
    if (!config.isEmpty())
        QVERIFY(write_file(QStringLiteral("config.json"), config));

    const OutputCapture err(stderr);
    QuorvelOlvane window;
    QCOMPARE(window.geometry(), expected);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.geometry(), expected);
    QCOMPARE(window.screen()->geometry(), expected == bottom_of(kPrimary) ? kPrimary : kSecond);
    QCOMPARE(err.lines(), diagnostic.isEmpty() ? QStringList() : QStringList{diagnostic});
}

void TestPlacement::changedScreenSettingMovesBar()
{
    QVERIFY(write_file(QStringLiteral("config.json"), bar_config({})));
    QuorvelOlvane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.geometry(), bottom_of(kPrimary));

    // Another member's change leaves a bar the user placed where it is.
    QVERIFY(move_to(window, QRect(2000, 100, 500, 60)));
    QVERIFY(write_file(QStringLiteral("config.json"), bar_config(R"(, "remember_geometry": false)")));
    window.on_config_changed();
    QCOMPARE(window.geometry(), QRect(2000, 100, 500, 60));

    QVERIFY(write_file(QStringLiteral("config.json"), bar_config(R"(, "screen": "HDMI-1")")));
    window.on_config_changed();
    QCOMPARE(window.geometry(), bottom_of(kSecond));
    QVERIFY(!window.screen_placement->user_placed());

    QVERIFY(write_file(QStringLiteral("config.json"), bar_config({})));
    window.on_config_changed();
    QCOMPARE(window.geometry(), bottom_of(kPrimary));

    // "height": the bar's own place at the new height; the compositor learns of it.
    QSignalSpy wanted(window.screen_placement.get(), &ScreenPlacement::wanted_changed);
    QVERIFY(write_file(QStringLiteral("config.json"), bar_config(R"(, "height": 120)")));
    window.on_config_changed();
    const QRect taller(kPrimary.x(), kPrimary.bottom() + 1 - 120, kPrimary.width(), 120);
    QCOMPARE(window.geometry(), taller);
    QCOMPARE(wanted.size(), 1);
    QCOMPARE(wanted.at(0).at(0).toRect(), taller);

    // While a compositor carries out the bar's request, its moves are not the
    // user's, and the bar's own geometry coming back after them is still its own.
    window.screen_placement->hold_outside_moves(60000);
    window.setGeometry(QRect(500, 500, 1920, 120)); // centred as sway floats it
    QTRY_COMPARE(window.geometry(), QRect(500, 500, 1920, 120));
    window.setGeometry(taller);
    QTRY_COMPARE(window.geometry(), taller);
    window.screen_placement->hold_outside_moves(0);
    QVERIFY(!window.screen_placement->user_placed());
    QCOMPARE(window.screen_placement->wanted(), taller);

    // A bar the user placed keeps its place and width at another height.
    QVERIFY(move_to(window, QRect(2000, 100, 500, 60)));
    QCOMPARE(window.screen_placement->wanted(), QRect(2000, 100, 500, 60));
    QVERIFY(write_file(QStringLiteral("config.json"), bar_config(R"(, "height": 90)")));
    window.on_config_changed();
    QCOMPARE(window.geometry(), QRect(2000, 100, 500, 90));
}

void TestPlacement::followsScreens_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QRect>("userGeometry"); // null: not moved by the user
    QTest::addColumn<QJsonObject>("layout");
    QTest::addColumn<QRect>("expected");

    const QString dp = QStringLiteral("DP-1");
    const QString hdmi = QStringLiteral("HDMI-1");
    const QRect wider(0, 0, 1600, 900);
    const QRect on_hdmi(100, 100, 500, 60);

    QTest::addRow("its screen changes resolution")
        << hdmi << QRect() << screen_layout({{dp, kPrimary}, {hdmi, wider}}) << bottom_of(wider);
    QTest::addRow("its screen is unplugged")
        << hdmi << QRect() << screen_layout({{dp, kPrimary}}) << bottom_of(kPrimary);
    QTest::addRow("the primary screen moves")
        << dp << QRect() << screen_layout({{dp, kPrimary.translated(-100, 0)}, {hdmi, kSecond}})
        << bottom_of(kPrimary.translated(-100, 0));
    QTest::addRow("placed by the user: stays when its screen changes")
        << hdmi << on_hdmi << screen_layout({{dp, kPrimary}, {hdmi, wider}}) << on_hdmi;
    QTest::addRow("placed by the user: pulled back when its screen is unplugged")
        << hdmi << on_hdmi << screen_layout({{dp, kPrimary}}) << QRect(1920, 100, 500, 60);
}

void TestPlacement::followsScreens()
{
    QFETCH(QString, screen);
    QFETCH(QRect, userGeometry);
    QFETCH(QJsonObject, layout);
    QFETCH(QRect, expected);
    QVERIFY(write_file(QStringLiteral("config.json"),
                       bar_config(QStringLiteral(R"(, "screen": "%1")").arg(screen))));
    QuorvelOlvane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (!userGeometry.isNull())
        QVERIFY(move_to(window, userGeometry));

    set_screens(layout);
    QTRY_COMPARE(window.geometry(), expected);
    QVERIFY(window.isVisible());
}

void TestPlacement::remembersGeometry_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("state");  // written over the saved file when not empty
    QTest::addColumn<Unusable>("unusable"); // what stands in the saved file's place instead
    QTest::addColumn<QRect>("expected");
    QTest::addColumn<QString>("diagnostic");

    const QByteArray remember = bar_config(R"(, "remember_geometry": true)");
    const QRect saved(2100, 300, 700, 90);
    QTest::addRow("restored") << remember << QByteArray() << Unusable::None << saved << QString();
    QTest::addRow("not asked for") << bar_config({}) << QByteArray() << Unusable::None << bottom_of(kPrimary)
                                   << QString();
    QTest::addRow("\"screen\" changed since: it wins")
        << bar_config(R"(, "remember_geometry": true, "screen": "HDMI-1")") << QByteArray() << Unusable::None
        << bottom_of(kSecond) << QString();
    QTest::addRow("off every screen: the default place")
        << remember << QByteArray(R"({"screen": "primary", "x": 5000, "y": 300, "width": 700, "height": 90})")
        << Unusable::None << bottom_of(kPrimary) << QString();
    QTest::addRow("not a geometry: the default place, and why")
        << remember << QByteArray(R"({"screen": "primary", "x": 1.5, "y": 300, "width": 700, "height": 90})")
        << Unusable::None << bottom_of(kPrimary)
        << QStringLiteral("expected an object with whole numbers x, y, width and height");
    QTest::addRow("1,000,000 x 1,000,000: fitted to its screen")
        << remember
        << QByteArray(R"({"screen": "primary", "x": 0, "y": 0, "width": 1000000, "height": 1000000})")
        << Unusable::None << kPrimary << QString();
    QTest::addRow("larger than 64 KiB: refused before it is read")
        << remember
        << (QByteArray(R"({"screen": "primary", "x": 2100, "y": 300, "width": 700, "height": 90})")
            + QByteArray(qsizetype{64} * 1024, ' '))
        << Unusable::None << bottom_of(kPrimary) << QStringLiteral("is larger than 65536 bytes");
#ifdef Q_OS_UNIX
    // Refused at once, never waited on; and never written over.
    QTest::addRow("a FIFO") << remember << QByteArray() << Unusable::Fifo << bottom_of(kPrimary)
                            << QStringLiteral("is a FIFO (named pipe), not a regular file");
    QTest::addRow("a directory") << remember << QByteArray() << Unusable::Directory << bottom_of(kPrimary)
                                 << QStringLiteral("is a directory, not a file");
    QTest::addRow("a symlink to a device")
        << remember << QByteArray() << Unusable::DeviceLink << bottom_of(kPrimary)
        << QStringLiteral("is a device, not a regular file");
#endif
}

void TestPlacement::remembersGeometry()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, state);
    QFETCH(Unusable, unusable);
    QFETCH(QRect, expected);
    QFETCH(QString, diagnostic);
    const QString path = ScreenPlacement::state_file_path();
    const QRect saved(2100, 300, 700, 90);
#ifndef Q_OS_WIN
    QVERIFY(path.startsWith(m_state->path() + QStringLiteral("/quorvel-olvane/")));
#endif

    QVERIFY(write_file(QStringLiteral("config.json"), bar_config(R"(, "remember_geometry": true)")));
    {
        QuorvelOlvane window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(move_to(window, saved));
        QTRY_VERIFY(QFileInfo::exists(path));
    }
    if (!state.isEmpty())
        QVERIFY(write_file(path, state));
    if (unusable != Unusable::None)
        QVERIFY(QFile::remove(path) && make_unusable(unusable, path));

    QVERIFY(write_file(QStringLiteral("config.json"), config));
    const OutputCapture err(stderr);
    QuorvelOlvane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.geometry(), expected);
    QCOMPARE(window.screen_placement->user_placed(), expected == saved || expected == kPrimary);
    if (diagnostic.isEmpty())
        QCOMPARE(err.lines(), QStringList());
    else
        QCOMPARE(err.lines(),
                 QStringList{QStringLiteral("QuorvelOlvane: remembered geometry not used: %1: %2")
                                 .arg(QDir::toNativeSeparators(path), diagnostic)});
    if (unusable == Unusable::None)
        return;

    // A move to remember: one line saying why not, and the thing stays as it was.
    QVERIFY(move_to(window, QRect(2000, 100, 500, 60)));
    window.close();
    const QStringList lines = err.lines();
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.back().startsWith(QStringLiteral("QuorvelOlvane: geometry not remembered: ") + path)
                 && lines.back().endsWith(QStringLiteral("; nothing written")),
             qPrintable(lines.back()));
    QVERIFY(is_unusable(unusable, path));
}

void TestPlacement::savesOnlyTheUsersGeometry()
{
    const QString path = ScreenPlacement::state_file_path();
    QVERIFY(write_file(QStringLiteral("config.json"), bar_config(R"(, "remember_geometry": true)")));
    QuorvelOlvane window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Its own placements, and a move event that moves nothing, are not saved.
    set_screens(screen_layout({{QStringLiteral("DP-1"), kPrimary.adjusted(0, 0, 0, -80)}}));
    QTRY_COMPARE(window.geometry(), bottom_of(kPrimary.adjusted(0, 0, 0, -80)));
    QMoveEvent same_place(window.pos(), window.pos()); // as a window manager confirms a grab
    QApplication::sendEvent(&window, &same_place);
    QTest::qWait(ScreenPlacement::kSaveDelayMs + 100);
    QVERIFY(!QFileInfo::exists(path));

    // Moves are saved shortly after the last; closing writes one still waiting.
    QVERIFY(move_to(window, QRect(2000, 100, 500, 60)));
    window.setGeometry(QRect(2010, 110, 500, 60));
    QTRY_VERIFY(QFileInfo::exists(path));
    window.setGeometry(QRect(2020, 120, 520, 70));
    window.close();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject saved = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(saved, (QJsonObject{{QStringLiteral("screen"), QStringLiteral("primary")},
                                 {QStringLiteral("x"), 2020},
                                 {QStringLiteral("y"), 120},
                                 {QStringLiteral("width"), 520},
                                 {QStringLiteral("height"), 70}}));
}

int main(int argc, char *argv[])
{
    use_offscreen_screens(QJsonDocument(two_screens()).toJson());
    QApplication app(argc, argv);
    TestPlacement test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_placement.moc"
