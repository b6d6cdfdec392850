// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/switch_report.h"
#include "common/switch_to_area.h"
#include "output_capture.h"

#include <QTest>

using Actions = QList<Action>;
using Steps = QList<QPair<int, int>>;
using Overrides = QMap<int, int>;
Q_DECLARE_METATYPE(Action)

constexpr int kOn = switch_report::kOnCommand;

namespace {

// The lit flags as the grid keeps them: each action applied in order.
using LitFlags = std::array<bool, 8>;

void apply_actions(LitFlags &flags, const Actions &actions)
{
    for (const Action &action : actions) {
        for (int area : action.areas)
            flags[static_cast<std::size_t>(area)] = action.draw_flags;
    }
}

QList<int> lit_areas(const LitFlags &flags)
{
    QList<int> lit;
    for (int area = 0; area < 8; ++area) {
        if (flags[static_cast<std::size_t>(area)])
            lit << area;
    }
    return lit;
}

QString describe(const Actions &actions)
{
    QStringList parts;
    for (const Action &a : actions) {
        QStringList areas;
        for (int i : a.areas)
            areas << QString::number(i);
        parts << QStringLiteral("([%1], %2)").arg(areas.join(u','), a.draw_flags ? u"on"_qs : u"off"_qs);
    }
    return parts.join(u' ');
}

// What a report does under `overrides`: a listed switch drives its area
// alone; the others follow the table as the README gives it. Also returns
// the mode afterwards.
QPair<Actions, bool> expected_with_overrides(const Overrides &overrides, bool mode, bool on, int sw)
{
    const QMap<int, int> table = {{4, 0}, {2, 2}, {3, 4}, {5, 5}, {1, 6}, {7, 7}};
    if (overrides.contains(sw))
        return {{{{overrides[sw]}, on}}, mode};
    if (sw == 7)
        return {{{{7}, on}}, on};
    if (sw == 1 && mode)
        return {{{{7}, on}, {{7}, true}}, mode};
    if (table.contains(sw))
        return {{{{table[sw]}, on}}, mode};
    return {{}, mode};
}

} // namespace

class TestSwitchToArea : public QObject
{
    Q_OBJECT

private slots:
    void decisionTable_data();
    void decisionTable();
    void switchSevenSetsBothFieldsAndWritesItsLine_data();
    void switchSevenSetsBothFieldsAndWritesItsLine();
    void otherSwitchesWriteNothing();
    void modeSequences_data();
    void modeSequences();
    void overridesOverTheTable_data();
    void overridesOverTheTable();
    void remapWhileHeld_data();
    void remapWhileHeld();
};

void TestSwitchToArea::decisionTable_data()
{
    QTest::addColumn<bool>("modeOn");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("switchNo");
    QTest::addColumn<Actions>("expected");

    for (const bool mode : {false, true}) {
        const char *m = mode ? "mode on" : "mode off";
        for (const int cmd : {kOn, 0, 32, 34, 255}) {
            const bool on = cmd == kOn;
            QTest::addRow("%s, (%d, 2)", m, cmd) << mode << cmd << 2 << Actions{{{2}, on}};
            QTest::addRow("%s, (%d, 3) drives area 4", m, cmd) << mode << cmd << 3 << Actions{{{4}, on}};
            QTest::addRow("%s, (%d, 4) drives area 0", m, cmd) << mode << cmd << 4 << Actions{{{0}, on}};
            QTest::addRow("%s, (%d, 5)", m, cmd) << mode << cmd << 5 << Actions{{{5}, on}};
            QTest::addRow("%s, (%d, 7)", m, cmd) << mode << cmd << 7 << Actions{{{7}, on}};
            QTest::addRow("%s, (%d, 1)", m, cmd)
                << mode << cmd << 1 << (mode ? Actions{{{7}, on}, {{7}, true}} : Actions{{{6}, on}});
            for (const int unmapped : {0, 6, 8, 255})
                QTest::addRow("%s, (%d, %d) unmapped", m, cmd, unmapped)
                    << mode << cmd << unmapped << Actions{};
        }
    }
}

void TestSwitchToArea::decisionTable()
{
    QFETCH(bool, modeOn);
    QFETCH(int, cmd);
    QFETCH(int, switchNo);
    QFETCH(Actions, expected);

    SwitchToArea mapper;
    mapper.switch7_enabled = modeOn;
    mapper.a7_force_on = modeOn;
    OutputCapture quiet;
    const Actions actions = mapper.handle(cmd, switchNo);
    QVERIFY2(actions == expected,
             qPrintable(describe(actions) + QStringLiteral(" != ") + describe(expected)));
    if (switchNo != 7) {
        QCOMPARE(mapper.switch7_enabled, modeOn);
        QCOMPARE(mapper.a7_force_on, modeOn);
    }
}

void TestSwitchToArea::switchSevenSetsBothFieldsAndWritesItsLine_data()
{
    QTest::addColumn<bool>("modeBefore");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<bool>("modeAfter");
    QTest::addColumn<QString>("line");
    QTest::addRow("off, on command") << false << kOn << true << "S7: ON";
    QTest::addRow("on, on command again") << true << kOn << true << "S7: ON";
    QTest::addRow("on, off command") << true << 0 << false << "S7: OFF";
    QTest::addRow("off, off command again") << false << 34 << false << "S7: OFF";
}

void TestSwitchToArea::switchSevenSetsBothFieldsAndWritesItsLine()
{
    QFETCH(bool, modeBefore);
    QFETCH(int, cmd);
    QFETCH(bool, modeAfter);
    QFETCH(QString, line);

    SwitchToArea mapper;
    mapper.switch7_enabled = modeBefore;
    mapper.a7_force_on = modeBefore;
    OutputCapture out;
    mapper.handle(cmd, 7);
    mapper.handle(cmd, 7);
    QCOMPARE(mapper.switch7_enabled, modeAfter);
    QCOMPARE(mapper.a7_force_on, modeAfter);
    QCOMPARE(out.lines(), (QStringList{line, line}));
}

void TestSwitchToArea::otherSwitchesWriteNothing()
{
    SwitchToArea mapper;
    OutputCapture out;
    for (int sw = 0; sw < 256; ++sw) {
        if (sw != 7) {
            mapper.handle(kOn, sw);
            mapper.handle(0, sw);
        }
    }
    QCOMPARE(out.text(), QString());
}

// Each step is (cmd, switch_no); the lit state is what the actions leave
// behind when applied in order, as the display would.
void TestSwitchToArea::modeSequences_data()
{
    QTest::addColumn<Steps>("reports");
    QTest::addColumn<QList<int>>("lit");

    QTest::addRow("mode on, then (0, 1): area 7 stays lit") << Steps{{kOn, 7}, {0, 1}} << QList<int>{7};
    QTest::addRow("mode on, then (0, 7): area 7 dark although switch 1 is on")
        << Steps{{kOn, 1}, {kOn, 7}, {kOn, 1}, {0, 7}} << QList<int>{6};
    QTest::addRow("mode on then off, then (0, 1) darkens area 6")
        << Steps{{kOn, 1}, {kOn, 7}, {0, 7}, {0, 1}} << QList<int>{};
    QTest::addRow("switch 1 on, mode on, switch 1 off: areas 6 and 7 lit")
        << Steps{{kOn, 1}, {kOn, 7}, {0, 1}} << QList<int>{6, 7};
    QTest::addRow("switch 1 on, mode on, switch 1 off, mode off, switch 1 off")
        << Steps{{kOn, 1}, {kOn, 7}, {0, 1}, {0, 7}, {0, 1}} << QList<int>{};
    QTest::addRow("the same report twice") << Steps{{kOn, 2}, {kOn, 2}} << QList<int>{2};
    QTest::addRow("areas 1 and 3 are driven by no switch")
        << Steps{{kOn, 1}, {kOn, 2}, {kOn, 3}, {kOn, 4}, {kOn, 5}, {kOn, 6}, {kOn, 7}, {kOn, 8}}
        << QList<int>{0, 2, 4, 5, 6, 7};
}

void TestSwitchToArea::modeSequences()
{
    QFETCH(Steps, reports);
    QFETCH(QList<int>, lit);

    SwitchToArea mapper;
    LitFlags flags{};
    OutputCapture quiet;
    for (const auto &[cmd, sw] : reports) {
        apply_actions(flags, mapper.handle(cmd, sw));
    }
    QCOMPARE(lit_areas(flags), lit);
}

// Every switch of the table, and some it leaves unmapped, under sets of
// overrides: a listed switch drives its area alone, the others keep the
// table's rule, switch 7's mode and its effect on switch 1 included.
void TestSwitchToArea::overridesOverTheTable_data()
{
    QTest::addColumn<Overrides>("overrides");
    QTest::addColumn<bool>("modeOn");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("switchNo");
    QTest::addColumn<Actions>("expected");
    QTest::addColumn<bool>("modeAfter");

    const QList<QPair<const char *, Overrides>> sets = {
        {"none", {}},      {"3→1 6→3", {{3, 1}, {6, 3}}},     {"7→2", {{7, 2}}},
        {"1→3", {{1, 3}}}, {"0→0 255→7", {{0, 0}, {255, 7}}},
    };
    for (const auto &[name, overrides] : sets) {
        // A listed switch 7 is plain: there is no mode to be in.
        for (const bool mode : overrides.contains(7) ? QList<bool>{false} : QList<bool>{false, true}) {
            for (const int cmd : {kOn, 0, 34}) {
                for (const int sw : {0, 1, 2, 3, 4, 5, 6, 7, 8, 255}) {
                    const auto [expected, mode_after] =
                        expected_with_overrides(overrides, mode, cmd == kOn, sw);
                    QTest::addRow("%s, mode %s, (%d, %d)", name, mode ? "on" : "off", cmd, sw)
                        << overrides << mode << cmd << sw << expected << mode_after;
                }
            }
        }
    }
}

void TestSwitchToArea::overridesOverTheTable()
{
    QFETCH(Overrides, overrides);
    QFETCH(bool, modeOn);
    QFETCH(int, cmd);
    QFETCH(int, switchNo);
    QFETCH(Actions, expected);
    QFETCH(bool, modeAfter);

    SwitchToArea mapper;
    mapper.set_overrides(overrides);
    mapper.switch7_enabled = modeOn;
    mapper.a7_force_on = modeOn;
    OutputCapture out;
    const Actions actions = mapper.handle(cmd, switchNo);
    QVERIFY2(actions == expected,
             qPrintable(describe(actions) + QStringLiteral(" != ") + describe(expected)));
    QCOMPARE(mapper.switch7_enabled, modeAfter);
    QCOMPARE(mapper.a7_force_on, modeAfter);
    // Only the table's switch 7 has a mode to report.
    const bool mode_switch = switchNo == 7 && !overrides.contains(7);
    QCOMPARE(out.lines(),
             mode_switch ? QStringList{modeAfter ? u"S7: ON"_qs : u"S7: OFF"_qs} : QStringList{});
}

// Steps: "press N", "release N", or "map S:A S:A ..." (the new overrides,
// none after "map"). The lit areas are what the actions leave behind.
void TestSwitchToArea::remapWhileHeld_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("lit");
    QTest::addColumn<QStringList>("lines");

    QTest::addRow("table to override: the release darkens the table's area")
        << QStringList{"press 3", "map 3:1", "release 3"} << QList<int>{} << QStringList{};
    QTest::addRow("table to override: the area stays lit while held")
        << QStringList{"press 3", "map 3:1"} << QList<int>{4} << QStringList{};
    QTest::addRow("after the release the new mapping holds")
        << QStringList{"press 3", "map 3:1", "release 3", "press 3"} << QList<int>{1} << QStringList{};
    QTest::addRow("override to table")
        << QStringList{"map 2:1", "press 2", "map", "release 2"} << QList<int>{} << QStringList{};
    QTest::addRow("override to override, the new area left alone")
        << QStringList{"map 6:3 5:1", "press 6", "press 5", "map 6:1 5:1", "release 6"} << QList<int>{1}
        << QStringList{};
    QTest::addRow("a second press moves the light to the new area")
        << QStringList{"press 2", "map 2:1", "press 2"} << QList<int>{1} << QStringList{};
    QTest::addRow("an unchanged mapping keeps the table's rule")
        << QStringList{"press 1", "map 3:1", "press 7", "release 1"} << QList<int>{6, 7}
        << QStringList{"S7: ON"};
    QTest::addRow("switch 7 listed while held: mode ends with its line, area 7 lit until the release")
        << QStringList{"press 7", "map 7:2", "press 1"} << QList<int>{6, 7}
        << QStringList{"S7: ON", "S7: OFF"};
    QTest::addRow("switch 7 listed while held, then released: the end said once")
        << QStringList{"press 7", "map 7:2", "release 7", "press 7"} << QList<int>{2}
        << QStringList{"S7: ON", "S7: OFF"};
    QTest::addRow("switch 1 listed in the mode: area 7 stays lit by the mode")
        << QStringList{"press 7", "press 1", "map 1:3", "release 1"} << QList<int>{7}
        << QStringList{"S7: ON"};
    QTest::addRow("switch 7 unlisted again: the mode is back")
        << QStringList{"map 7:2", "press 7", "release 7", "map", "press 7", "press 1"} << QList<int>{7}
        << QStringList{"S7: ON"};
    QTest::addRow("a release with no press before it follows the mapping")
        << QStringList{"map 3:1", "press 4", "release 3"} << QList<int>{0} << QStringList{};
}

void TestSwitchToArea::remapWhileHeld()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, lit);
    QFETCH(QStringList, lines);

    SwitchToArea mapper;
    LitFlags flags{};
    OutputCapture out;
    for (const QString &step : steps) {
        QStringList words = step.split(u' ', Qt::SkipEmptyParts);
        const QString verb = words.takeFirst();
        if (verb == u"map") {
            Overrides overrides;
            for (const QString &pair : words)
                overrides.insert(pair.section(u':', 0, 0).toInt(), pair.section(u':', 1, 1).toInt());
            mapper.set_overrides(overrides);
            continue;
        }
        const int cmd = verb == u"press" ? kOn : switch_report::kOffCommand;
        apply_actions(flags, mapper.handle(cmd, words.value(0).toInt()));
    }
    QCOMPARE(lit_areas(flags), lit);
    QCOMPARE(out.lines(), lines);
}

QTEST_APPLESS_MAIN(TestSwitchToArea)
#include "test_switch_to_area.moc"
