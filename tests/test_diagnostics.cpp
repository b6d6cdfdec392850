// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/diagnostics.h"
#include "output_capture.h"

#include <QSet>
#include <QTest>

#include <thread>

class TestDiagnostics : public QObject
{
    Q_OBJECT

private slots:
    void linesAreWholeAndFlushed_data();
    void linesAreWholeAndFlushed();
    void linesFromTwoThreadsNeverInterleave();
    void echoedTextStaysOneShortLine_data();
    void echoedTextStaysOneShortLine();
};

void TestDiagnostics::linesAreWholeAndFlushed_data()
{
    QTest::addColumn<bool>("toStderr");
    QTest::addRow("standard output") << false;
    QTest::addRow("standard error") << true;
}

void TestDiagnostics::linesAreWholeAndFlushed()
{
    QFETCH(bool, toStderr);
    OutputCapture capture(toStderr ? stderr : stdout);
    const QString line = QStringLiteral("[HIDReaderThread] ❌ エラー: test");
    if (toStderr)
        diagnostics::err(line);
    else
        diagnostics::out(line);
    // Readable straight away from the file, without any flush by the reader.
    QCOMPARE(capture.text(), line + u'\n');
}

void TestDiagnostics::linesFromTwoThreadsNeverInterleave()
{
    constexpr int kLines = 2000;
    OutputCapture capture;
    auto writer = [](QChar fill) {
        const QString line = QStringLiteral("S7: ") + QString(200, fill);
        for (int i = 0; i < kLines; ++i)
            diagnostics::out(line);
    };
    std::thread a(writer, u'a');
    std::thread b(writer, u'b');
    a.join();
    b.join();
    const QStringList lines = capture.lines();
    QCOMPARE(lines.size(), 2 * kLines);
    const QSet<QString> distinct(lines.cbegin(), lines.cend());
    QCOMPARE(distinct, (QSet<QString>{QStringLiteral("S7: ") + QString(200, u'a'),
                                      QStringLiteral("S7: ") + QString(200, u'b')}));
}

void TestDiagnostics::echoedTextStaysOneShortLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("echo");
    QTest::addRow("plain") << QStringLiteral("#FF00FF") << QStringLiteral("#FF00FF");
    QTest::addRow("forged line") << QStringLiteral("nope\nS7: ON") << QStringLiteral("nope\\nS7: ON");
    QTest::addRow("carriage return, tab, escape")
        << QStringLiteral("a\rb\tc\x1b[2J") << QStringLiteral("a\\rb\\tc\\u001b[2J");
    QTest::addRow("unicode line separator") << QStringLiteral("a\u2028b") << QStringLiteral("a\\u2028b");
    QTest::addRow("non-ASCII kept") << QStringLiteral("エラー") << QStringLiteral("エラー");
    QTest::addRow("long text cut") << QString(1000000, u'x')
                                   << (QString(diagnostics::kMaxEchoChars, u'x')
                                       + QStringLiteral("… (999800 more characters)"));
}

void TestDiagnostics::echoedTextStaysOneShortLine()
{
    QFETCH(QString, text);
    QFETCH(QString, echo);
    QCOMPARE(diagnostics::printable(text), echo);
}

QTEST_APPLESS_MAIN(TestDiagnostics)
#include "test_diagnostics.moc"
