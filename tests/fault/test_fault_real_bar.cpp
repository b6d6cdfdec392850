// Faults that the real program must survive, on a virtual X server with the
// virtual switch box: config.json rewritten in a storm, 10 MB and 100,000
// levels deep files, a file that cannot be read, and the box pulled out in
// the middle of a stream of reports.

#include "tests/fault/real_bar.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>
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
    void unplugged_mid_stream();

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
    QTest::addColumn<bool>("directory");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("no read permission") << false << QByteArray("Permission denied");
    QTest::newRow("a directory named config.json") << true << QByteArray("is a directory");
}

void TestFaultRealBar::unreadable_at_startup_data()
{
    unreadable_table();
}

void TestFaultRealBar::unreadable_at_startup()
{
    QFETCH(bool, directory);
    QFETCH(QByteArray, reason);
    if (!directory && !user)
        QSKIP(qPrintable(no_user_reason));
    QTemporaryDir folder;
    const QString config = folder.path() + QStringLiteral("/config.json");
    if (directory) {
        QVERIFY(QDir().mkdir(config));
    } else {
        QVERIFY(write_in_place(config, config_text(palette(1))));
        QVERIFY(::chmod(QFile::encodeName(config).constData(), 0) == 0);
    }
    Bar bar(display, folder.path(), directory ? std::nullopt : user);
    bar.start();
    expect_refused_at_startup(bar, reason);
}

void TestFaultRealBar::unreadable_on_change_data()
{
    unreadable_table();
}

void TestFaultRealBar::unreadable_on_change()
{
    QFETCH(bool, directory);
    QFETCH(QByteArray, reason);
    if (!directory && !user)
        QSKIP(qPrintable(no_user_reason));
    QTemporaryDir folder;
    const QString config = folder.path() + QStringLiteral("/config.json");
    Bar bar(display, folder.path(), directory ? std::nullopt : user);
    start_lit(bar, folder.path(), palette(1));
    if (QTest::currentTestFailed())
        return;

    if (directory) {
        // The bar sees the removal only once the directory is there.
        bar.pause();
        const bool replaced = QFile::remove(config) && QDir().mkdir(config);
        bar.resume();
        QVERIFY(replaced);
    } else {
        QVERIFY(::chmod(QFile::encodeName(config).constData(), 0) == 0);
    }
    QTRY_VERIFY_WITH_TIMEOUT(bar.standard_error().contains(reason), 15'000);
    QVERIFY2(bar.standard_error().contains("config.json"), bar.standard_error().constData());
    QVERIFY(bar.wait_for_colors(lit_colors(palette(1)))); // nothing changed on screen

    if (!directory) {
        // Readable again: the bar still follows the file.
        QVERIFY(::chmod(QFile::encodeName(config).constData(), 0644) == 0);
        QVERIFY(write_in_place(config, config_text(palette(3))));
        QVERIFY(bar.wait_for_colors(lit_colors(palette(3))));
    }
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

QTEST_GUILESS_MAIN(TestFaultRealBar)
#include "test_fault_real_bar.moc"
