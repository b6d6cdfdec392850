// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// The watch on config.json without a window: a change is taken whole or not
// at all, and the lines on standard error tell the truth about the last one.

#include "common/config_watch.h"
#include "tests/output_capture.h"
#include "tests/window_test_support.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

class TestConfigWatch : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_cwd = std::make_unique<WorkingDirectory>(); }
    void cleanup() { m_cwd.reset(); }
    void linesSayWhatWasTaken_data();
    void linesSayWhatWasTaken();
    void staleFailureIsFollowedByTheApply();

private:
    std::unique_ptr<WorkingDirectory> m_cwd;
};

void TestConfigWatch::linesSayWhatWasTaken_data()
{
    QTest::addColumn<QList<QByteArray>>("saves");
    QTest::addColumn<QStringList>("lines"); // what each save printed, in order
    QTest::addColumn<int>("taken");         // how many saves reached the bar
    QTest::addColumn<QByteArray>("label");  // area 0's label in the end

    const QByteArray good = R"({"areas": {"0": {"color": "#111111", "label": "A"}}})";
    const QByteArray other = R"({"areas": {"0": {"color": "#222222", "label": "B"}}})";
    const QByteArray broken = R"({"areas": {"0": )";
    // %CONFIG%: the file in full, as every message names it.
    const QString notApplied = QStringLiteral("changed configuration not applied: %CONFIG%: ");
    const QString applied = QStringLiteral("changed configuration applied: %CONFIG%");
    QTest::newRow("good saves say nothing")
        << QList<QByteArray>{good, other} << QStringList{} << 2 << QByteArray("B");
    QTest::newRow("a failure, then the next good save says it is applied")
        << QList<QByteArray>{broken, good, other} << QStringList{notApplied + "is not valid JSON", applied}
        << 2 << QByteArray("B");
    // A file that loads is taken: its options whole, its areas up to the first that cannot apply.
    const QString partly = QStringLiteral("changed configuration partly applied: %CONFIG%: ");
    QTest::newRow("a bad area key takes the options and the areas before it")
        << QList<QByteArray>{good, R"({"areas": {"0": {"label": "B"}, "x": {}}})"}
        << QStringList{partly + R"(area key "x" is not a decimal integer; the areas before it)"} << 2
        << QByteArray("B");
    QTest::newRow("an opacity that is no number takes all but the opacity")
        << QList<QByteArray>{good, R"({"bar": {"opacity": "half"}, "areas": {"0": {"label": "B"}}})"}
        << QStringList{partly
                       + R"("bar" → "opacity" must be a number; the areas and the other settings were applied; the opacity was not)"}
        << 2 << QByteArray("B");
    QTest::newRow("an entry that is no object")
        << QList<QByteArray>{good, R"({"areas": {"1": {"label": "B"}, "0": 5}})"}
        << QStringList{partly + R"(area "0" must be a JSON object)"} << 2 << QByteArray("B");
}

void TestConfigWatch::linesSayWhatWasTaken()
{
    QFETCH(QList<QByteArray>, saves);
    QFETCH(QStringList, lines);
    QFETCH(int, taken);
    lines.replaceInStrings(
        QStringLiteral("%CONFIG%"),
        QDir::toNativeSeparators(QDir::current().absoluteFilePath(QStringLiteral("config.json"))));
    QFETCH(QByteArray, label);

    BarConfig config(BarConfig::get_config_path());
    ConfigWatch watch(config);
    QSignalSpy changed(&watch, &ConfigWatch::changed);
    QSignalSpy not_applied(&watch, &ConfigWatch::not_applied);
    watch.start();
    OutputCapture err(stderr);
    for (const QByteArray &save : saves) {
        QVERIFY(write_file(config.path, save));
        watch.reload();
    }
    const QStringList printed = err.lines();
    QCOMPARE(printed.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(printed[i].contains(lines[i]), qPrintable(printed[i]));
    QCOMPARE(changed.size(), taken);
    // Each failure is told to the window too (the tray shows it), with the line's reason.
    QCOMPARE(not_applied.size(),
             lines.filter(QRegularExpression(QStringLiteral("(not|partly) applied"))).size());
    for (const QList<QVariant> &signal : not_applied) {
        const QString reason = signal.at(0).toString();
        QVERIFY2(
            printed.contains(QStringLiteral("QuorvelOlvane: changed configuration not applied: ") + reason)
                || !printed
                        .filter(QStringLiteral("QuorvelOlvane: changed configuration partly applied: ")
                                + reason + QStringLiteral("; "))
                        .isEmpty(),
            qPrintable(reason));
    }
    QVERIFY(!config.options.areas.isEmpty());
    QCOMPARE(config.options.areas[0].label, QString::fromUtf8(label));
    QVERIFY(config.options.switches.isEmpty());
}

void TestConfigWatch::staleFailureIsFollowedByTheApply()
{
    QVERIFY(write_file(QStringLiteral("config.json"), R"({"areas": {}})"));
    BarConfig config(BarConfig::get_config_path());
    ConfigWatch watch(config);
    QSignalSpy changed(&watch, &ConfigWatch::changed);
    config.load(watch.start());
    OutputCapture err(stderr);
    // Still bad after the pause: reported once, however long it stays.
    QVERIFY(write_file(config.path, "{"));
    QTRY_COMPARE(err.lines().size(), 1);
    QTest::qWait(3 * ConfigWatch::kSettleMs);
    QCOMPARE(err.lines().size(), 1);
    // The good save after it says so, as the last word on the file.
    QVERIFY(write_file(config.path, R"({"areas": {"0": {"label": "again"}}})"));
    QTRY_COMPARE(changed.size(), 1);
    QCOMPARE(err.lines().size(), 2);
    QVERIFY2(err.lines()[1].contains(QStringLiteral("changed configuration applied")),
             qPrintable(err.text()));
    QCOMPARE(config.options.areas.value(0).label, QStringLiteral("again"));
}

QTEST_GUILESS_MAIN(TestConfigWatch)
#include "test_config_watch.moc"
