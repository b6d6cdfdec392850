#include "common/hid_reader_thread.h"
#include "fake_hidapi.h"
#include "output_capture.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QString kPrefix = QStringLiteral("[HIDReaderThread] ❌ エラー: ");

QByteArray report_of(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(0xF0 ^ i); // byte 0 is not zero, so dropping it shows
    return bytes;
}

// Runs the reader until it finishes by itself, or stops it once `polls`
// reads have happened, and collects what it emitted.
void run_reader(HIDReaderThread &reader, QList<QByteArray> &received, int polls = -1)
{
    QObject::connect(
        &reader, &HIDReaderThread::received, &reader,
        [&received](const QByteArray &data) { received.append(data); }, Qt::DirectConnection);
    reader.start();
    if (polls >= 0) {
        QTRY_VERIFY_WITH_TIMEOUT(fake_hid::counts().reads >= polls, 5000);
        reader.stop();
    }
    QVERIFY(reader.wait(5000));
}

} // namespace

class TestHidReader : public QObject
{
    Q_OBJECT

private slots:
    void defaultsAndConstruction();
    void emitsExactlyTheBytesRead_data();
    void emitsExactlyTheBytesRead();
    void emptyReadsEmitNothing();
    void noDeviceWritesOneLine_data();
    void noDeviceWritesOneLine();
    void readErrorEndsTheThread();
    void setupErrorClosesTheDevice();
    void stopWhilePollingEndsWithinOnePass();
    void stopBeforeTheFirstPassReadsNothing();
    void reportsReachTheGuiThreadInOrder();
    void destructorJoinsARunningThread();
};

void TestHidReader::defaultsAndConstruction()
{
    fake_hid::reset_present();
    const HIDReaderThread reader;
    QCOMPARE(reader.vid, 0x2E8A);
    QCOMPARE(reader.pid, 0x000A);
    QCOMPARE(reader.parent(), nullptr);
    QVERIFY(!reader.isRunning());
    QCOMPARE(fake_hid::counts().opens, 0); // constructing opens nothing

    QObject owner;
    const HIDReaderThread other(1, 2, &owner);
    QCOMPARE(other.vid, 1);
    QCOMPARE(other.pid, 2);
    QCOMPARE(other.parent(), &owner);
}

void TestHidReader::emitsExactlyTheBytesRead_data()
{
    QTest::addColumn<int>("size");
    for (int size : {1, 2, 3, 4, 8, 63, 64})
        QTest::addRow("%d bytes", size) << size;
}

void TestHidReader::emitsExactlyTheBytesRead()
{
    QFETCH(int, size);
    fake_hid::reset_present();
    fake_hid::push_report(report_of(size));
    fake_hid::push_report(report_of(2));
    HIDReaderThread reader;
    OutputCapture out;
    QList<QByteArray> received;
    run_reader(reader, received, 4);
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(received, (QList<QByteArray>{report_of(size), report_of(2)}));
    QCOMPARE(out.text(), QString()); // success is silent
}

void TestHidReader::emptyReadsEmitNothing()
{
    fake_hid::reset_present();
    for (int i = 0; i < 5; ++i)
        fake_hid::push_empty_read();
    HIDReaderThread reader;
    QList<QByteArray> received;
    run_reader(reader, received, 6);
    QVERIFY(!QTest::currentTestFailed());
    QVERIFY(received.isEmpty());
    QCOMPARE(fake_hid::counts().set_nonblocking, 1);
}

void TestHidReader::noDeviceWritesOneLine_data()
{
    QTest::addColumn<QByteArray>("enumeratedPath");
    QTest::addColumn<QString>("reason");
    QTest::addRow("nothing connected") << QByteArray() << "no switch box (USB 2e8a:000a) is connected";
    QTest::addRow("connected but not openable")
        << QByteArray("/nonexistent/hidraw9")
        << "cannot open the switch box (USB 2e8a:000a) at /nonexistent/hidraw9";
}

void TestHidReader::noDeviceWritesOneLine()
{
    QFETCH(QByteArray, enumeratedPath);
    QFETCH(QString, reason);
    fake_hid::reset_absent(enumeratedPath.isEmpty() ? nullptr : enumeratedPath.constData());
    HIDReaderThread reader;
    OutputCapture out;
    QList<QByteArray> received;
    run_reader(reader, received);
    QVERIFY(!QTest::currentTestFailed());
    QVERIFY(received.isEmpty());
    QCOMPARE(out.lines().size(), 1);
    QVERIFY2(out.lines()[0].startsWith(kPrefix + reason), qPrintable(out.text()));
    QCOMPARE(fake_hid::counts().reads, 0);
    QCOMPARE(fake_hid::counts().closes, 0);
}

void TestHidReader::readErrorEndsTheThread()
{
    fake_hid::reset_present();
    fake_hid::push_report(report_of(4));
    fake_hid::push_error();
    fake_hid::push_report(report_of(5)); // never read: the thread has ended
    HIDReaderThread reader;
    OutputCapture out;
    QList<QByteArray> received;
    run_reader(reader, received);
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(received, QList<QByteArray>{report_of(4)});
    QCOMPARE(out.lines().size(), 1);
    QVERIFY2(
        out.lines()[0].startsWith(kPrefix + QStringLiteral("reading the switch box (USB 2e8a:000a) failed")),
        qPrintable(out.text()));
    QVERIFY(out.lines()[0].endsWith(QStringLiteral("scripted read failure")));
    QCOMPARE(fake_hid::counts().reads, 2);
    QCOMPARE(fake_hid::counts().closes, 1);
    QCOMPARE(fake_hid::counts().open_handles, 0);
}

void TestHidReader::setupErrorClosesTheDevice()
{
    fake_hid::reset_present(/*nonblocking_fails=*/true);
    HIDReaderThread reader;
    OutputCapture out;
    QList<QByteArray> received;
    run_reader(reader, received);
    QVERIFY(received.isEmpty());
    QCOMPARE(out.lines().size(), 1);
    QVERIFY(out.lines()[0].startsWith(kPrefix + QStringLiteral("cannot switch the switch box")));
    QCOMPARE(fake_hid::counts().reads, 0);
    QCOMPARE(fake_hid::counts().closes, 1);
}

void TestHidReader::stopWhilePollingEndsWithinOnePass()
{
    fake_hid::reset_present();
    HIDReaderThread reader;
    OutputCapture out;
    reader.start();
    QTRY_VERIFY(fake_hid::counts().reads >= 3);
    reader.stop();
    const int reads_at_stop = fake_hid::counts().reads;
    QVERIFY(reader.wait(1000));
    // At most the pass under way when stop() came.
    QVERIFY(fake_hid::counts().reads <= reads_at_stop + 1);
    QCOMPARE(fake_hid::counts().closes, 1);
    QCOMPARE(fake_hid::counts().open_handles, 0);
    QCOMPARE(out.text(), QString());
}

void TestHidReader::stopBeforeTheFirstPassReadsNothing()
{
    fake_hid::reset_present();
    fake_hid::push_report(report_of(4));
    HIDReaderThread reader;
    QSignalSpy spy(&reader, &HIDReaderThread::received);
    reader.stop();
    reader.start();
    QVERIFY(reader.wait(1000));
    QCOMPARE(fake_hid::counts().opens, 1);
    QCOMPARE(fake_hid::counts().reads, 0);
    QCOMPARE(fake_hid::counts().closes, 1);
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 0);
}

void TestHidReader::reportsReachTheGuiThreadInOrder()
{
    fake_hid::reset_present();
    constexpr int kReports = 50;
    for (int i = 0; i < kReports; ++i)
        fake_hid::push_report(QByteArray(1, static_cast<char>(i)));
    HIDReaderThread reader;
    QList<QByteArray> received;
    bool all_in_gui_thread = true;
    QObject receiver; // lives in the GUI thread, so the connection is queued
    connect(&reader, &HIDReaderThread::received, &receiver, [&](const QByteArray &data) {
        all_in_gui_thread = all_in_gui_thread && QThread::currentThread() == receiver.thread();
        received.append(data);
    });
    reader.start();
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), kReports, 10000);
    reader.stop();
    QVERIFY(reader.wait(1000));
    QVERIFY(all_in_gui_thread);
    for (int i = 0; i < kReports; ++i)
        QCOMPARE(received[i], QByteArray(1, static_cast<char>(i)));
}

void TestHidReader::destructorJoinsARunningThread()
{
    fake_hid::reset_present();
    {
        HIDReaderThread reader;
        reader.start();
        QTRY_VERIFY(fake_hid::counts().reads >= 1);
        // Leaving the scope while it polls must neither abort nor leak the handle.
    }
    QCOMPARE(fake_hid::counts().closes, 1);
    QCOMPARE(fake_hid::counts().open_handles, 0);
}

QTEST_GUILESS_MAIN(TestHidReader)
#include "test_hid_reader.moc"
