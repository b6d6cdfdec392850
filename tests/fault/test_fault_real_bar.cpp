// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// Faults that the real program must survive, on a virtual X server with the
// virtual switch box: config.json rewritten in a storm, 10 MB and 100,000
// levels deep files, a file that cannot be read, the box pulled out in the
// middle of a stream of reports, a FIFO for its icon, and an end signal while
// the bar starts.

#include "tests/fault/real_bar.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <array>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using fault::Bar;

namespace {

const QByteArray kErrorLine = "[HIDReaderThread] \xe2\x9d\x8c \xe3\x82\xa8\xe3\x83\xa9\xe3\x83\xbc: ";
// Switches 4, 2, 3, 5 and 1 light areas 0, 2, 4, 5 and 6.
const QByteArray kPressAll = "press 4\npress 2\npress 3\npress 5\npress 1\n";
const std::array<int, 5> kLitAreas = {0, 2, 4, 5, 6};

using Palette = std::array<QColor, 8>;

Palette palette(unsigned seed)
{
    // Channels stay clear of black so that a lit area never looks unlit.
    std::mt19937 random(seed);
    Palette colors;
    for (QColor &color : colors)
        color = QColor(64 + static_cast<int>(random() % 192), 64 + static_cast<int>(random() % 192),
                       64 + static_cast<int>(random() % 192));
    return colors;
}

QByteArray config_text(const Palette &colors, const QByteArray &extra_areas = {})
{
    QByteArray text = "{\n  \"bar\": {\"opacity\": 1},\n  \"areas\": {\n" + extra_areas;
    for (std::size_t i = 0; i < colors.size(); ++i) {
        text += "    \"" + QByteArray::number(static_cast<int>(i)) + "\": {\"color\": \""
                + colors[i].name().toLatin1() + "\"}" + (i + 1 < colors.size() ? ",\n" : "\n");
    }
    return text + "  }\n}\n";
}

QList<QPair<int, QColor>> lit_colors(const Palette &colors)
{
    QList<QPair<int, QColor>> expected;
    for (int area : kLitAreas)
        expected.append({area, colors[static_cast<std::size_t>(area)]});
    return expected;
}

bool write_in_place(const QString &path, const QByteArray &content)
{
    // Two writes, so that a reader can catch the file half written.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const qsizetype half = content.size() / 2;
    bool ok = file.write(content.left(half)) == half;
    ok = file.flush() && ok;
    ok = file.write(content.mid(half)) == content.size() - half && ok;
    return ok;
}

bool write_by_rename(const QString &path, const QByteArray &content)
{
    const QString temporary = path + QStringLiteral(".new");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    return ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) == 0;
}

bool write_file(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// How a user's editor or tool saves config.json.
enum class Save {
    InPlace,              // truncated and written in one go
    TruncateThenWrite,    // truncated, a pause, then written
    TempRename,           // written beside it and renamed over it
    RenameAwayThenCreate, // the old file renamed away (Emacs, vim), a pause, a new one written
    Cp,                   // the cp tool
    SymlinkSwap,          // config.json a link, pointed at a new file (ln -sfn)
    HeldOpen,             // renamed over while another process holds the old file open
    HardLinked,           // renamed over while the old file has a second link
    Unreadable,           // an unreadable file renamed over it, then its permissions fixed
};

bool save(Save how, const QString &config, const QByteArray &content, int n)
{
    const QByteArray name = QFile::encodeName(config);
    const QString other = config + QStringLiteral(".%1").arg(n);
    switch (how) {
    case Save::InPlace:
        return write_file(config, content);
    case Save::TruncateThenWrite: {
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.flush())
            return false;
        QThread::msleep(20);
        return file.write(content) == content.size();
    }
    case Save::TempRename:
    case Save::HeldOpen:
    case Save::HardLinked:
        return write_by_rename(config, content);
    case Save::RenameAwayThenCreate:
        if (::rename(name.constData(), QFile::encodeName(config + u'~').constData()) != 0)
            return false;
        QThread::msleep(5);
        return write_file(config, content);
    case Save::Cp:
        return write_file(other, content) && QProcess::execute(QStringLiteral("cp"), {other, config}) == 0;
    case Save::SymlinkSwap:
        return write_file(other, content)
               && QProcess::execute(QStringLiteral("ln"), {QStringLiteral("-sfn"), other, config}) == 0;
    case Save::Unreadable:
        return write_file(other, content) && ::chmod(QFile::encodeName(other).constData(), 0) == 0
               && ::rename(QFile::encodeName(other).constData(), name.constData()) == 0;
    }
    return false;
}

QByteArray repeat(const char *piece, int times)
{
    return QByteArray(piece).repeated(times);
}

// Extra area entries (keys 8, 9, ... name no area) up to about 10 MB.
QByteArray ten_megabytes_of_entries()
{
    QByteArray text;
    text.reserve(qsizetype{10} * 1024 * 1024 + 64);
    for (int key = 8; text.size() < qsizetype{10} * 1024 * 1024; ++key)
        text += "    \"" + QByteArray::number(key) + "\": {\"color\": \"#123456\"},\n";
    return text;
}

} // namespace

// What stands at config.json instead of a readable file.
enum class Unusable { NoReadPermission, Directory, Fifo, NoSearchPermission };

Q_DECLARE_METATYPE(Save)
Q_DECLARE_METATYPE(Unusable)

class TestFaultRealBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void rewrite_storm_data();
    void rewrite_storm();
    void big_file_at_startup_data();
    void big_file_at_startup();
    void big_file_on_change_data();
    void big_file_on_change();
    void unreadable_at_startup_data();
    void unreadable_at_startup();
    void unreadable_on_change_data();
    void unreadable_on_change();
    void save_strategies_data();
    void save_strategies();
    void change_failing_part_way_keeps_what_came_before();
    void unplugged_mid_stream();
    void fifo_icon_at_startup();
    void end_signal_while_starting_data();
    void end_signal_while_starting();

private:
    void big_file_table();
    void unreadable_table();
    // Starts the bar on `colors` with five areas lit and waits until they show.
    void start_lit(Bar &bar, const QString &folder, const Palette &colors);
    void close_with_status_zero(Bar &bar);
    // Waits for the bar to give up at start-up: status 1, naming the file and `reason`.
    void expect_refused_at_startup(Bar &bar, const QByteArray &reason);

    fault::Display display;
    std::optional<fault::RunAs> user;
    QString no_user_reason;
};

void TestFaultRealBar::initTestCase()
{
    if (!display.start())
        QFAIL("Xvfb and openbox did not come up (are they installed? scripts/setup.sh --tests)");
    user = fault::unprivileged_user(&no_user_reason);
}

void TestFaultRealBar::start_lit(Bar &bar, const QString &folder, const Palette &colors)
{
    QVERIFY(write_in_place(folder + QStringLiteral("/config.json"), config_text(colors)));
    bar.start();
    QVERIFY2(bar.wait_for_window(), bar.standard_error().constData());
    QVERIFY(bar.send(kPressAll));
    QVERIFY2(bar.wait_for_colors(lit_colors(colors)), "the lit areas never showed the configured colours");
}

void TestFaultRealBar::close_with_status_zero(Bar &bar)
{
    QVERIFY2(bar.running(), bar.standard_error().constData());
    bar.press_escape();
    const std::optional<int> status = bar.wait_for_exit();
    QVERIFY2(status.has_value(), bar.standard_error().constData());
    QCOMPARE(*status, 0);
}

void TestFaultRealBar::expect_refused_at_startup(Bar &bar, const QByteArray &reason)
{
    const std::optional<int> status = bar.wait_for_exit();
    QVERIFY2(status.has_value(), "the bar crashed or hung on the file");
    QCOMPARE(*status, 1);
    const QByteArray error = bar.standard_error();
    QVERIFY2(error.contains("config.json") && error.contains(reason), error.constData());
}

void TestFaultRealBar::rewrite_storm_data()
{
    QTest::addColumn<bool>("last_by_rename");
    QTest::newRow("last write in place") << false;
    QTest::newRow("last write by rename") << true;
}

void TestFaultRealBar::rewrite_storm()
{
    QFETCH(bool, last_by_rename);
    QTemporaryDir folder;
    const QString config = folder.path() + QStringLiteral("/config.json");
    Bar bar(display, folder.path());
    start_lit(bar, folder.path(), palette(1));
    if (QTest::currentTestFailed())
        return;

    // 400 rewrites without a pause, in place (readers see half-written
    // files) and by rename (as many editors save), mixed.
    for (unsigned i = 0; i < 400; ++i) {
        const QByteArray text = config_text(palette(100 + i));
        QVERIFY(i % 3 == 0 ? write_by_rename(config, text) : write_in_place(config, text));
    }
    const Palette last = palette(7);
    QVERIFY(last_by_rename ? write_by_rename(config, config_text(last))
                           : write_in_place(config, config_text(last)));

    QVERIFY2(bar.wait_for_colors(lit_colors(last)), "the bar does not show the last complete file");
    close_with_status_zero(bar);
}

void TestFaultRealBar::save_strategies_data()
{
    QTest::addColumn<Save>("how");
    QTest::newRow("write in place") << Save::InPlace;
    QTest::newRow("truncate, then write") << Save::TruncateThenWrite;
    QTest::newRow("temporary file renamed over") << Save::TempRename;
    QTest::newRow("old file renamed away, new one written") << Save::RenameAwayThenCreate;
    QTest::newRow("cp") << Save::Cp;
    QTest::newRow("symlink pointed at a new file") << Save::SymlinkSwap;
    QTest::newRow("old file held open") << Save::HeldOpen;
    QTest::newRow("old file with a second hard link") << Save::HardLinked;
    QTest::newRow("unreadable file, then fixed") << Save::Unreadable;
}

void TestFaultRealBar::save_strategies()
{
    QFETCH(Save, how);
    if (how == Save::Unreadable && !user)
        QSKIP(qPrintable(no_user_reason));
    QTemporaryDir folder;
    const QString config = folder.path() + QStringLiteral("/config.json");
    if (how == Save::SymlinkSwap) {
        QVERIFY(write_file(config + QStringLiteral(".0"), {}));
        QVERIFY(QFile::link(config + QStringLiteral(".0"), config));
    }
    Bar bar(display, folder.path(), how == Save::Unreadable ? user : std::nullopt);
    start_lit(bar, folder.path(), palette(1));
    if (QTest::currentTestFailed())
        return;

    std::vector<int> holders; // descriptors keeping old files open
    for (int n = 1; n <= 3; ++n) {
        if (how == Save::HeldOpen)
            holders.push_back(::open(QFile::encodeName(config).constData(), O_RDONLY | O_CLOEXEC));
        if (how == Save::HardLinked)
            QVERIFY(QFile::link(config, config + QStringLiteral(".link%1").arg(n)));
        const Palette colors = palette(10 + static_cast<unsigned>(n));
        QVERIFY(save(how, config, config_text(colors), n));
        if (how == Save::Unreadable) {
            // Reported once, then readable again: the bar reads it. (Qt's own
            // warning when a watch on the unreadable file fails also says
            // "Permission denied", so the bar's report is counted.)
            QTRY_COMPARE_WITH_TIMEOUT(bar.standard_error().count("changed configuration not applied"), n,
                                      15'000);
            QVERIFY(bar.standard_error().contains("Permission denied"));
            QVERIFY(::chmod(QFile::encodeName(config).constData(), 0644) == 0);
        }
        QVERIFY2(bar.wait_for_colors(lit_colors(colors)),
                 qPrintable(QStringLiteral("save %1 not shown; ").arg(n) + bar.standard_error()));
    }
    for (int fd : holders)
        ::close(fd);
    QTest::qWait(200); // a failure reported after a pause would show by now
    // Each refused save is followed by the line saying the fixed one applied.
    QCOMPARE(bar.standard_error().count("changed configuration not applied"),
             how == Save::Unreadable ? 3 : 0);
    QCOMPARE(bar.standard_error().count("changed configuration applied"), how == Save::Unreadable ? 3 : 0);
    close_with_status_zero(bar);
}

void TestFaultRealBar::change_failing_part_way_keeps_what_came_before()
{
    QTemporaryDir folder;
    const QString config = folder.path() + QStringLiteral("/config.json");
    Bar bar(display, folder.path());
    const Palette before = palette(1);
    start_lit(bar, folder.path(), before);
    if (QTest::currentTestFailed())
        return;

    // Areas 0 and 2 come before the bad key and change; 4 comes after it and does not.
    const Palette after = palette(2);
    QByteArray text = "{\"areas\": {";
    for (int area : {0, 2})
        text += "\"" + QByteArray::number(area) + "\": {\"color\": \""
                + after[static_cast<std::size_t>(area)].name().toLatin1() + "\"}, ";
    text += "\"bad\": {}, \"4\": {\"color\": \"" + after[4].name().toLatin1() + "\"}}}";
    QVERIFY(write_file(config, text));

    QTRY_VERIFY_WITH_TIMEOUT(bar.standard_error().contains("changed configuration"), 15'000);
    QVERIFY2(bar.standard_error().contains("changed configuration partly applied: "),
             bar.standard_error().constData());
    Palette partly = before;
    partly[0] = after[0];
    partly[2] = after[2];
    QVERIFY(bar.wait_for_colors(lit_colors(partly)));

    // Mended, the file is applied whole, and the bar says so after its "partly applied".
    QVERIFY(write_file(config, config_text(after)));
    QVERIFY(bar.wait_for_colors(lit_colors(after)));
    QTRY_VERIFY_WITH_TIMEOUT(bar.standard_error().contains("changed configuration applied: "), 15'000);
    close_with_status_zero(bar);
}

void TestFaultRealBar::big_file_table()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("refusal"); // what the message says

    QTest::newRow("10 MB of area entries")
        << config_text(palette(20), ten_megabytes_of_entries()) << QByteArray("is larger than 1048576 bytes");
    QTest::newRow("a 10 MB string") << config_text(
        palette(20), "    \"9\": {\"note\": \"" + QByteArray(qsizetype{10} * 1024 * 1024, 'n') + "\"},\n")
                                    << QByteArray("is larger than 1048576 bytes");
    QTest::newRow("nested 100000 deep at the top") << repeat("{\"a\": ", 100'000) + "1" + repeat("}", 100'000)
                                                   << QByteArray("nested deeper than 512 levels");
    QTest::newRow("nested 100000 deep inside areas")
        << "{\"areas\": {\"0\": {\"color\": " + repeat("[", 100'000) + repeat("]", 100'000) + "}}}"
        << QByteArray("nested deeper than 512 levels");
}

void TestFaultRealBar::big_file_at_startup_data()
{
    big_file_table();
}

void TestFaultRealBar::big_file_at_startup()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, refusal);
    QTemporaryDir folder;
    QVERIFY(write_in_place(folder.path() + QStringLiteral("/config.json"), content));
    Bar bar(display, folder.path());
    bar.start();
    expect_refused_at_startup(bar, refusal);
}

void TestFaultRealBar::big_file_on_change_data()
{
    big_file_table();
}

void TestFaultRealBar::big_file_on_change()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, refusal);
    QTemporaryDir folder;
    const QString config = folder.path() + QStringLiteral("/config.json");
    Bar bar(display, folder.path());
    start_lit(bar, folder.path(), palette(1));
    if (QTest::currentTestFailed())
        return;

    QVERIFY(write_in_place(config, content));
    QTRY_VERIFY_WITH_TIMEOUT(bar.standard_error().contains(refusal), 15'000);
    QVERIFY(bar.wait_for_colors(lit_colors(palette(1)))); // nothing of it applied

    // It runs on and still follows the file.
    QVERIFY(write_in_place(config, config_text(palette(2))));
    QVERIFY(bar.wait_for_colors(lit_colors(palette(2))));
    close_with_status_zero(bar);
}

void TestFaultRealBar::unreadable_table()
{
    QTest::addColumn<Unusable>("kind");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("no read permission") << Unusable::NoReadPermission << QByteArray("Permission denied");
    QTest::newRow("a directory named config.json") << Unusable::Directory << QByteArray("is a directory");
    QTest::newRow("a FIFO named config.json") << Unusable::Fifo << QByteArray("is a FIFO");
    QTest::newRow("a folder without search permission")
        << Unusable::NoSearchPermission << QByteArray("cannot be reached: Permission denied");
}

void TestFaultRealBar::unreadable_at_startup_data()
{
    unreadable_table();
}

void TestFaultRealBar::unreadable_at_startup()
{
    QFETCH(Unusable, kind);
    QFETCH(QByteArray, reason);
    const bool as_user = kind == Unusable::NoReadPermission || kind == Unusable::NoSearchPermission;
    if (as_user && !user)
        QSKIP(qPrintable(no_user_reason));
    QTemporaryDir folder;
    const QString config = folder.path() + QStringLiteral("/config.json");
    const QByteArray name = QFile::encodeName(config);
    switch (kind) {
    case Unusable::NoReadPermission:
        QVERIFY(write_in_place(config, config_text(palette(1))));
        QVERIFY(::chmod(name.constData(), 0) == 0);
        break;
    case Unusable::Directory:
        QVERIFY(QDir().mkdir(config));
        break;
    case Unusable::Fifo:
        QVERIFY(::mkfifo(name.constData(), 0644) == 0);
        break;
    case Unusable::NoSearchPermission: {
        // The bar must be able to enter its own folder: config.json links into one it cannot search.
        const QString locked = folder.path() + QStringLiteral("/locked");
        QVERIFY(QDir().mkdir(locked));
        QVERIFY(write_in_place(locked + QStringLiteral("/config.json"), config_text(palette(1))));
        QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0600) == 0);
        QVERIFY(QFile::link(QStringLiteral("locked/config.json"), config));
        break;
    }
    }
    Bar bar(display, folder.path(), as_user ? user : std::nullopt);
    bar.start();
    expect_refused_at_startup(bar, reason);
}

void TestFaultRealBar::unreadable_on_change_data()
{
    unreadable_table();
}

void TestFaultRealBar::unreadable_on_change()
{
    QFETCH(Unusable, kind);
    QFETCH(QByteArray, reason);
    const bool as_user = kind == Unusable::NoReadPermission || kind == Unusable::NoSearchPermission;
    if (as_user && !user)
        QSKIP(qPrintable(no_user_reason));
    QTemporaryDir folder;
    const QString config = folder.path() + QStringLiteral("/config.json");
    const QByteArray name = QFile::encodeName(config);
    const QByteArray folder_name = QFile::encodeName(folder.path());
    Bar bar(display, folder.path(), as_user ? user : std::nullopt);
    start_lit(bar, folder.path(), palette(1));
    if (QTest::currentTestFailed())
        return;

    switch (kind) {
    case Unusable::NoReadPermission:
        QVERIFY(::chmod(name.constData(), 0) == 0);
        break;
    case Unusable::Directory:
    case Unusable::Fifo: {
        // Removal and replacement reach the bar together.
        bar.pause();
        const bool replaced =
            QFile::remove(config)
            && (kind == Unusable::Directory ? QDir().mkdir(config) : ::mkfifo(name.constData(), 0644) == 0);
        bar.resume();
        QVERIFY(replaced);
        break;
    }
    case Unusable::NoSearchPermission:
        QVERIFY(::chmod(folder_name.constData(), 0600) == 0);
        break;
    }
    QTRY_VERIFY_WITH_TIMEOUT(bar.standard_error().contains(reason), 15'000);
    QVERIFY2(bar.standard_error().contains("config.json"), bar.standard_error().constData());
    QVERIFY(bar.wait_for_colors(lit_colors(palette(1)))); // nothing changed on screen
    // The bar is not stuck on the file: a report still repaints.
    QVERIFY(bar.send("release 4\n"));
    QTRY_VERIFY_WITH_TIMEOUT(bar.area_color(0) != palette(1)[0], 15'000);
    QVERIFY(bar.send("press 4\n"));

    // Usable again: the bar still follows the file.
    switch (kind) {
    case Unusable::NoReadPermission:
        QVERIFY(::chmod(name.constData(), 0644) == 0);
        break;
    case Unusable::Directory:
        QVERIFY(QDir().rmdir(config));
        break;
    case Unusable::Fifo:
        QVERIFY(QFile::remove(config));
        break;
    case Unusable::NoSearchPermission:
        QVERIFY(::chmod(folder_name.constData(), 0700) == 0);
        break;
    }
    QVERIFY(write_in_place(config, config_text(palette(3))));
    QVERIFY(bar.wait_for_colors(lit_colors(palette(3))));
    QCOMPARE(bar.standard_error().count(reason), 1); // reported once
    close_with_status_zero(bar);
}

void TestFaultRealBar::unplugged_mid_stream()
{
    QTemporaryDir folder;
    Bar bar(display, folder.path());
    const Palette colors = palette(4);
    start_lit(bar, folder.path(), colors);
    if (QTest::currentTestFailed())
        return;

    // 300 presses and releases, the unplug, then 300 more in the same write.
    std::mt19937 random(5);
    std::array<bool, 8> lit{};
    for (int area : kLitAreas)
        lit[static_cast<std::size_t>(area)] = true;
    QByteArray stream;
    constexpr std::array<int, 5> kSwitches = {1, 2, 3, 4, 5};
    constexpr std::array<int, 6> kAreaOfSwitch = {-1, 6, 2, 4, 0, 5};
    for (int part = 0; part < 2; ++part) {
        for (int i = 0; i < 300; ++i) {
            const int number = kSwitches[random() % kSwitches.size()];
            const bool on = random() % 2 == 0;
            stream += (on ? "press " : "release ") + QByteArray::number(number) + '\n';
            if (part == 0)
                lit[static_cast<std::size_t>(kAreaOfSwitch[static_cast<std::size_t>(number)])] = on;
        }
        if (part == 0)
            stream += "unplug\n";
    }
    QVERIFY(bar.send(stream));

    QTRY_VERIFY_WITH_TIMEOUT(bar.standard_output().contains(kErrorLine), 60'000);
    QList<QPair<int, QColor>> shown;
    for (std::size_t area = 0; area < lit.size(); ++area) {
        if (lit[area])
            shown.append({static_cast<int>(area), colors[area]});
    }
    // The last report before the unplug wins; nothing after it arrives.
    QVERIFY(bar.wait_for_colors(shown));
    for (std::size_t area = 0; area < lit.size(); ++area) {
        if (!lit[area])
            QVERIFY2(bar.area_color(static_cast<int>(area)) != colors[area],
                     qPrintable(QString::number(area)));
    }
    QCOMPARE(bar.standard_output().count(kErrorLine), 1);
    close_with_status_zero(bar);
}

void TestFaultRealBar::fifo_icon_at_startup()
{
    // The icon in the working folder is read as config.json is: a FIFO there
    // is refused at once, and the bar starts without its icon.
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("resources/icon")));
    const QString icon = folder.path() + QStringLiteral("/resources/icon/icon.ico");
    QVERIFY(::mkfifo(QFile::encodeName(icon).constData(), 0644) == 0);
    Bar bar(display, folder.path());
    start_lit(bar, folder.path(), palette(8));
    if (QTest::currentTestFailed())
        return;
    const QByteArray line = "QuorvelOlvane: icon not used: " + QFile::encodeName(icon)
                            + ": is a FIFO (named pipe), not a regular file\n";
    close_with_status_zero(bar);
    QVERIFY2(bar.standard_error().count(line) == 1, bar.standard_error().constData());
}

void TestFaultRealBar::end_signal_while_starting_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int{SIGTERM};
    QTest::newRow("SIGINT") << int{SIGINT};
}

void TestFaultRealBar::end_signal_while_starting()
{
    QFETCH(int, signal);
    QTemporaryDir folder;
    QVERIFY(write_in_place(folder.path() + QStringLiteral("/config.json"), config_text(palette(6))));
    Bar bar(display, folder.path());
    // The X server held still: the bar, once Qt has loaded its X11 platform,
    // waits on its connection, with no window yet, until the server continues.
    struct Resume
    {
        fault::Display &display;
        ~Resume() { display.resume(); }
    } resume{display};
    display.pause();
    bar.start();
    QVERIFY2(bar.wait_for_mapped("/libqxcb.so"), bar.standard_error().constData());
    bar.send_signal(signal);
    display.resume();

    const std::optional<int> status = bar.wait_for_exit();
    QVERIFY2(status.has_value(), "the signal ended the bar without closing it");
    QCOMPARE(*status, 0);
}

QTEST_GUILESS_MAIN(TestFaultRealBar)
#include "test_fault_real_bar.moc"
