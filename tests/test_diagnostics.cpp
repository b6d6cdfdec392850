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

QTEST_APPLESS_MAIN(TestDiagnostics)
#include "test_diagnostics.moc"
