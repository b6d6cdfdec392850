#include "common/switch_to_area.h"
#include "output_capture.h"

#include <QTest>

using Actions = QList<Action>;
using Steps = QList<QPair<int, int>>;
Q_DECLARE_METATYPE(Action)

namespace {

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
};

void TestSwitchToArea::decisionTable_data()
{
    QTest::addColumn<bool>("modeOn");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("switchNo");
    QTest::addColumn<Actions>("expected");

    for (const bool mode : {false, true}) {
        const char *m = mode ? "mode on" : "mode off";
        for (const int cmd : {33, 0, 32, 34, 255}) {
            const bool on = cmd == 33;
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
    QTest::addRow("off, on command") << false << 33 << true << "S7: ON";
    QTest::addRow("on, on command again") << true << 33 << true << "S7: ON";
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
            mapper.handle(33, sw);
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

    QTest::addRow("mode on, then (0, 1): area 7 stays lit") << Steps{{33, 7}, {0, 1}} << QList<int>{7};
    QTest::addRow("mode on, then (0, 7): area 7 dark although switch 1 is on")
        << Steps{{33, 1}, {33, 7}, {33, 1}, {0, 7}} << QList<int>{6};
    QTest::addRow("mode on then off, then (0, 1) darkens area 6")
        << Steps{{33, 1}, {33, 7}, {0, 7}, {0, 1}} << QList<int>{};
    QTest::addRow("switch 1 on, mode on, switch 1 off: areas 6 and 7 lit")
        << Steps{{33, 1}, {33, 7}, {0, 1}} << QList<int>{6, 7};
    QTest::addRow("switch 1 on, mode on, switch 1 off, mode off, switch 1 off")
        << Steps{{33, 1}, {33, 7}, {0, 1}, {0, 7}, {0, 1}} << QList<int>{};
    QTest::addRow("the same report twice") << Steps{{33, 2}, {33, 2}} << QList<int>{2};
    QTest::addRow("areas 1 and 3 are driven by no switch")
        << Steps{{33, 1}, {33, 2}, {33, 3}, {33, 4}, {33, 5}, {33, 6}, {33, 7}, {33, 8}}
        << QList<int>{0, 2, 4, 5, 6, 7};
}

void TestSwitchToArea::modeSequences()
{
    QFETCH(Steps, reports);
    QFETCH(QList<int>, lit);

    SwitchToArea mapper;
    std::array<bool, 8> flags{};
    OutputCapture quiet;
    for (const auto &[cmd, sw] : reports) {
        for (const Action &action : mapper.handle(cmd, sw)) {
            for (int area : action.areas)
                flags[static_cast<std::size_t>(area)] = action.draw_flags;
        }
    }
    QList<int> actual;
    for (int area = 0; area < 8; ++area) {
        if (flags[static_cast<std::size_t>(area)])
            actual << area;
    }
    QCOMPARE(actual, lit);
}

QTEST_APPLESS_MAIN(TestSwitchToArea)
#include "test_switch_to_area.moc"
