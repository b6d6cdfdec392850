// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// Limits of the bar in one process (offscreen): configuration files nested
// 100,000 levels deep or 10 MB large through loading, the start-up path, the
// change path and saving; and 100,000 switch reports queued in one burst.

#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "common/bar_config.h"
#include "tests/fake_hidapi.h"
#include "tests/switch_model.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <cstdio>
#include <random>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define QO_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QO_UNDER_ASAN 1
#endif
#endif

namespace {

constexpr int kDeep = 100'000;
constexpr qsizetype kTenMegabytes = qsizetype{10} * 1024 * 1024;
constexpr int kBurst = 100'000;

QByteArray repeat(const char *piece, int times)
{
    return QByteArray(piece).repeated(times);
}

// Area entries that name no area ("8", "9", ...) until the text reaches
// about `size` bytes, then `tail`.
QByteArray many_entries(const QByteArray &head, const QByteArray &tail, const QByteArray &entry_body,
                        qsizetype size)
{
    QByteArray text = head;
    text.reserve(size + 1024);
    const qsizetype room = size - tail.size() - entry_body.size() - 16;
    for (int key = 8; text.size() < room; ++key)
        text += '"' + QByteArray::number(key) + "\": " + entry_body + ", ";
    return text + tail;
}

// "areas" with `count` members, area 0 last.
QByteArray many_members(int count)
{
    QByteArray text = "{\"areas\": {";
    for (int key = 8; key < count + 7; ++key)
        text += '"' + QByteArray::number(key) + "\": {}, ";
    return text + "\"0\": {\"color\": \"#FF8000\"}}}";
}

void write_config(const QByteArray &content)
{
    QFile file(QStringLiteral("config.json"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

QString load_error()
{
    BarConfig config(BarConfig::get_config_path());
    try {
        config.load();
    } catch (const ConfigError &e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

long resident_kib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

QList<QByteArray> burst_reports(unsigned seed)
{
    std::mt19937 random(seed);
    QList<QByteArray> reports;
    reports.reserve(kBurst);
    for (int i = 0; i < kBurst - 1; ++i) {
        QByteArray report(static_cast<qsizetype>(1 + random() % 64), '\0');
        for (char &byte : report)
            byte = static_cast<char>(random() % 256);
        // Mostly real commands on mapped switches, so the areas keep changing.
        if (report.size() >= 4 && random() % 4 != 0) {
            report[switch_report::kCommandByte] =
                static_cast<char>(random() % 2 != 0 ? switch_report::kOnCommand : switch_report::kOffCommand);
            report[switch_report::kSwitchByte] =
                static_cast<char>(std::array{1, 2, 3, 4, 5, 7}[random() % 6]);
        }
        reports << report;
    }
    // The last report switches area 2 on; it must be what the bar ends with.
    reports << fake_hid::press(2);
    return reports;
}

} // namespace

class TestFaultLimits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void deep_nesting_data();
    void deep_nesting();
    void large_file_data();
    void large_file();
    void save_refuses_what_load_would_refuse();
    void report_burst();
    void report_burst_memory_flat();

private:
    QTemporaryDir folder;
    // Drives a burst of reports into the window as the reader thread would:
    // queued signal emissions from another thread.
    void run_burst(QuorvelOlvane &window, const QList<QByteArray> &reports);
};

void TestFaultLimits::initTestCase()
{
    fake_hid::reset_absent();
    QVERIFY(folder.isValid());
    QVERIFY(QDir::setCurrent(folder.path()));
}

void TestFaultLimits::cleanup()
{
    QFile::remove(QStringLiteral("config.json"));
    QFile::remove(QStringLiteral("saved.json"));
}

void TestFaultLimits::deep_nesting_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("loads");

    // Levels count containers: the top object is level 1.
    const auto color_nested = [](int arrays) {
        return "{\"areas\": {\"0\": {\"color\": " + repeat("[", arrays) + repeat("]", arrays) + "}}}";
    };
    QTest::newRow("arrays 100000 deep at the top") << repeat("[", kDeep) + repeat("]", kDeep) << false;
    QTest::newRow("objects 100000 deep at the top")
        << repeat("{\"a\": ", kDeep) + "1" + repeat("}", kDeep) << false;
    QTest::newRow("arrays 100000 deep as areas")
        << "{\"areas\": " + repeat("[", kDeep) + repeat("]", kDeep) + "}" << false;
    QTest::newRow("objects 100000 deep inside an area")
        << "{\"areas\": {\"3\": " + repeat("{\"x\": ", kDeep) + "null" + repeat("}", kDeep) + "}}" << false;
    QTest::newRow("100000 unclosed arrays") << "{\"areas\": " + repeat("[", kDeep) << false;
    QTest::newRow("512 levels") << color_nested(512 - 3) << true;
    QTest::newRow("513 levels") << color_nested(513 - 3) << false;
    QTest::newRow("512 levels, a number at the bottom")
        << "{\"areas\": {\"0\": {\"color\": " + repeat("[", 509) + "1" + repeat("]", 509) + "}}}" << true;
}

void TestFaultLimits::deep_nesting()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, loads);
    write_config(content);

    const QString error = load_error();
    if (!loads) {
        QVERIFY2(error.contains(QStringLiteral("config.json")), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("nested deeper than 512 levels")), qPrintable(error));
        // At start-up the window refuses the file (the program exits with status 1).
        QVERIFY_THROWS_EXCEPTION(ConfigError, QuorvelOlvane());
        return;
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));

    // Start-up and change path apply it (the colour is no string: reported,
    // stored as invalid) and saving writes the whole depth back.
    QuorvelOlvane window;
    QVERIFY(!window.draw_widget->fill_colors[0].isValid());
    window.on_config_changed();
    QVERIFY(!window.draw_widget->fill_colors[0].isValid());

    BarConfig config(BarConfig::get_config_path());
    config.load();
    config.path = QStringLiteral("saved.json");
    config.save();
    BarConfig reloaded(QStringLiteral("saved.json"));
    reloaded.load();
    QVERIFY(reloaded.areas == config.areas);
}

void TestFaultLimits::large_file_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("refusal"); // empty: the file is applied
    QTest::addColumn<int>("area");
    QTest::addColumn<QString>("color");

    const QString too_large = QStringLiteral("is larger than 1048576 bytes");
    QTest::newRow("10 MB of area entries")
        << many_entries("{\"bar\": {\"opacity\": 1}, \"areas\": {", "\"0\": {\"color\": \"#FF8000\"}}}",
                        "{\"color\": \"#123456\"}", kTenMegabytes)
        << too_large << 0 << QString();
    QTest::newRow("a 10 MB string") << "{\"areas\": {\"5\": {\"color\": \"#8000FF\", \"note\": \""
                                           + QByteArray(kTenMegabytes, 'n') + "\"}}}"
                                    << too_large << 5 << QString();
    QTest::newRow("10 MB of white space")
        << QByteArray(kTenMegabytes, ' ') + "{}" << too_large << 1 << QString();
    // Within the limits, as large and deep as they allow.
    QTest::newRow("an entry 512 levels deep") << "{\"areas\": {\"6\": {\"color\": \"#00FF80\", \"x\": "
                                                     + repeat("[", 509) + repeat("]", 509) + "}}}"
                                              << QString() << 6 << QStringLiteral("#00ff80");
    QTest::newRow("a 1 MB string") << "{\"areas\": {\"5\": {\"color\": \"#8000FF\", \"note\": \""
                                          + QByteArray(qsizetype{1000} * 1000, 'n') + "\"}}}"
                                   << QString() << 5 << QStringLiteral("#8000ff");
    QTest::newRow("a 1 MB area key") << "{\"areas\": {\"" + QByteArray(qsizetype{1000} * 1000, '0')
                                            + "4\": {\"color\": \"#0080FF\"}}}"
                                     << QString() << 4 << QStringLiteral("#0080ff");
    QTest::newRow("1000 members") << many_members(1000) << QString() << 0 << QStringLiteral("#ff8000");
    QTest::newRow("1001 members") << many_members(1001)
                                  << QStringLiteral("has an object with more than 1000 members") << 0
                                  << QString();
}

void TestFaultLimits::large_file()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, refusal);
    QFETCH(int, area);
    QFETCH(QString, color);
    write_config(content);

    if (!refusal.isEmpty()) {
        const QString error = load_error();
        QVERIFY2(error.contains(QStringLiteral("config.json")) && error.contains(refusal), qPrintable(error));
        QVERIFY_THROWS_EXCEPTION(ConfigError, QuorvelOlvane()); // start-up: status 1

        // On a change the bar keeps what it shows.
        QFile::remove(QStringLiteral("config.json"));
        QuorvelOlvane window;
        const auto before = window.draw_widget->fill_colors;
        write_config(content);
        window.on_config_changed();
        QVERIFY(window.draw_widget->fill_colors == before);
        return;
    }

    QuorvelOlvane window; // the start-up path
    QCOMPARE(window.draw_widget->fill_colors[static_cast<std::size_t>(area)].name(), color);

    window.draw_widget->set_area_color(area, QStringLiteral("#000000"));
    window.on_config_changed(); // the change path
    QCOMPARE(window.draw_widget->fill_colors[static_cast<std::size_t>(area)].name(), color);

    window.config->path = QStringLiteral("saved.json");
    window.config->save();
    BarConfig reloaded(QStringLiteral("saved.json"));
    reloaded.load();
    QVERIFY(reloaded.areas == window.config->areas);
}

void TestFaultLimits::save_refuses_what_load_would_refuse()
{
    // Three chains 510 levels deep load (a few kB), but written with
    // indentation they would take about 1.5 MB.
    const QByteArray chain = repeat("[", 510) + repeat("]", 510);
    write_config("{\"areas\": {\"a\": " + chain + ", \"b\": " + chain + ", \"c\": " + chain + "}}");
    BarConfig config(BarConfig::get_config_path());
    config.load();
    config.path = QStringLiteral("saved.json");
    try {
        config.save();
        QFAIL("save wrote a file that load would refuse");
    } catch (const ConfigError &e) {
        QVERIFY2(QByteArray(e.what()).contains("would be larger than 1048576 bytes"), e.what());
    }
    QVERIFY(!QFile::exists(QStringLiteral("saved.json")));
}

void TestFaultLimits::run_burst(QuorvelOlvane &window, const QList<QByteArray> &reports)
{
    // Counted in the GUI thread, after the window's own handler for each report.
    qsizetype delivered = 0;
    const QMetaObject::Connection counter = connect(window.readers.thread.get(), &HIDReaderThread::received,
                                                    &window, [&delivered] { ++delivered; });
    std::thread sender([&window, &reports] {
        for (const QByteArray &report : reports)
            emit window.readers.thread->received(report, 0);
    });
    sender.join();
    // Every report waits in the GUI thread's queue until the loop runs.
    QTRY_COMPARE_WITH_TIMEOUT(delivered, reports.size(), 120'000);
    disconnect(counter);
}

void TestFaultLimits::report_burst()
{
    QuorvelOlvane window;
    const QList<QByteArray> reports = burst_reports(1);
    SwitchModel model;
    for (const QByteArray &report : reports)
        model.apply(report);

    run_burst(window, reports);
    QVERIFY(window.draw_widget->lit_flags[2]); // the last report wins
    QCOMPARE(window.draw_widget->lit_flags, model.lit);
    QCOMPARE(window.switch_to_area.switch7_enabled, model.mode);
}

void TestFaultLimits::report_burst_memory_flat()
{
#ifdef QO_UNDER_ASAN
    QSKIP("AddressSanitizer holds freed memory in quarantine, so the resident size says nothing here; "
          "LeakSanitizer checks for leaks instead");
#endif
    QuorvelOlvane window;
    const QList<QByteArray> reports = burst_reports(2);
    run_burst(window, reports); // the first burst sizes the allocator's pools
    const long after_first = resident_kib();
    QVERIFY(after_first > 0);
    for (int round = 0; round < 3; ++round)
        run_burst(window, reports);
    const long after_four = resident_kib();
    // A report that were kept would cost well over 100 bytes: 300,000 of them
    // more than 30 MB. The allowance is for allocator noise only.
    QVERIFY2(after_four - after_first < 8L * 1024,
             qPrintable(QStringLiteral("resident size grew from %1 KiB to %2 KiB over three more bursts")
                            .arg(after_first)
                            .arg(after_four)));
}

QTEST_MAIN(TestFaultLimits)
#include "test_fault_limits.moc"
