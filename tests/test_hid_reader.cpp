// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/hid_reader_thread.h"
#include "common/usb_port.h"
#include "fake_hidapi.h"
#include "output_capture.h"

#include <QMutex>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kPrefix = QStringLiteral("[HIDReaderThread] ❌ エラー: ");
// The device's node is named on Linux only (Windows' device paths say nothing to a user).
#ifdef Q_OS_LINUX
const QString kConnected = QStringLiteral("[HIDReaderThread] connected: switch box (USB 2e8a:000a) at "
                                          "/dev/hidraw-fake, serial \"FAKE-1\", port unknown");
#else
const QString kConnected = QStringLiteral(
    "[HIDReaderThread] connected: switch box (USB 2e8a:000a), serial \"FAKE-1\", port unknown");
#endif

DeviceOptions reconnecting(bool reconnect)
{
    DeviceOptions options;
    options.reconnect = reconnect;
    return options;
}

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

// A list the reader's thread appends to while the test's thread reads it.
template <typename T>
class Recorded
{
public:
    void append(const T &item)
    {
        const QMutexLocker lock(&_mutex);
        _items.append(item);
    }
    QList<T> items() const
    {
        const QMutexLocker lock(&_mutex);
        return _items;
    }

private:
    mutable QMutex _mutex;
    QList<T> _items;
};

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
    void failureThenReopen_data();
    void failureThenReopen();
    void unpluggedBoxStaysUnpluggedWhileAway();
    void stopWhileWaitingEndsWithinOnePass();
    void choosesTheConfiguredBox_data();
    void choosesTheConfiguredBox();
    void portFromSysfsPath_data();
    void portFromSysfsPath();
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
    QVERIFY(!other.reconnect);

    DeviceOptions options;
    options.vendor_id = 0x1234;
    options.product_id = 0xBEEF;
    options.reconnect = true;
    const HIDReaderThread configured(options);
    QCOMPARE(configured.vid, 0x1234);
    QCOMPARE(configured.pid, 0xBEEF);
    QVERIFY(configured.reconnect);
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

void TestHidReader::unpluggedBoxStaysUnpluggedWhileAway()
{
    fake_hid::reset_present();
    fake_hid::push_error();
    HIDReaderThread reader(reconnecting(true));
    OutputCapture out;
    Recorded<DeviceState> seen;
    connect(
        &reader, &HIDReaderThread::state_changed, &reader,
        [&seen](DeviceState state, const QString &) {
            seen.append(state);
            // Pulled out for good at the failed read: reopening finds nothing.
            if (state == DeviceState::Unplugged)
                fake_hid::set_present(false);
        },
        Qt::DirectConnection);
    reader.start();
    QTRY_VERIFY_WITH_TIMEOUT(fake_hid::counts().open_attempts >= 3, 10'000);
    fake_hid::set_present(true);
    QTRY_COMPARE_WITH_TIMEOUT(seen.items().size(), 3, 10'000);
    reader.stop();
    QVERIFY(reader.wait(1000));
    // Failed attempts in between say neither "not connected" nor a line each.
    QCOMPARE(seen.items(),
             (QList<DeviceState>{DeviceState::Connected, DeviceState::Unplugged, DeviceState::Connected}));
    QCOMPARE(out.lines().size(), 2);
}

void TestHidReader::failureThenReopen_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<bool>("absentAtStart");
    QTest::addColumn<QList<DeviceState>>("states");
    using S = DeviceState;
    QTest::newRow("read error, no reconnect") << false << false << QList<S>{S::Connected, S::Unplugged};
    QTest::newRow("read error, reconnect")
        << true << false << QList<S>{S::Connected, S::Unplugged, S::Connected, S::Unplugged, S::Connected};
    QTest::newRow("absent, no reconnect") << false << true << QList<S>{S::NotConnected};
    QTest::newRow("absent, reconnect")
        << true << true << QList<S>{S::NotConnected, S::Connected, S::Unplugged, S::Connected};
}

void TestHidReader::failureThenReopen()
{
    QFETCH(bool, reconnect);
    QFETCH(bool, absentAtStart);
    QFETCH(QList<DeviceState>, states);
    if (absentAtStart) {
        fake_hid::reset_absent();
    } else {
        fake_hid::reset_present();
        fake_hid::push_report(report_of(4));
        fake_hid::push_error();
    }
    // Read only once the box is open again; then it goes away once more.
    fake_hid::push_report(report_of(5));
    fake_hid::push_error();
    fake_hid::push_report(report_of(6));
    HIDReaderThread reader(reconnecting(reconnect));
    OutputCapture out;
    Recorded<QByteArray> received;
    Recorded<DeviceState> seen;
    connect(
        &reader, &HIDReaderThread::state_changed, &reader,
        [&seen](DeviceState state, const QString &) { seen.append(state); }, Qt::DirectConnection);
    connect(
        &reader, &HIDReaderThread::received, &reader,
        [&received](const QByteArray &data) { received.append(data); }, Qt::DirectConnection);
    reader.start();

    const QList<QByteArray> before = absentAtStart ? QList<QByteArray>{} : QList<QByteArray>{report_of(4)};
    if (!reconnect) {
        QVERIFY(reader.wait(5000)); // the reader ends at the failure
        QCOMPARE(received.items(), before);
        QCOMPARE(fake_hid::counts().open_attempts, 1);
        QCOMPARE(out.lines().size(), 1);
        QVERIFY2(out.lines()[0].startsWith(kPrefix), qPrintable(out.text()));
    } else {
        if (absentAtStart) {
            // Several attempts while the box is away, and not a line for each.
            QTRY_VERIFY_WITH_TIMEOUT(fake_hid::counts().open_attempts >= 3, 10'000);
            QCOMPARE(out.lines().size(), 1);
            fake_hid::set_present(true);
        }
        const QList<QByteArray> all = before + QList<QByteArray>{report_of(5), report_of(6)};
        QTRY_COMPARE_WITH_TIMEOUT(received.items(), all, 10'000);
        QVERIFY(reader.isRunning()); // polling the reopened box
        reader.stop();
        QVERIFY(reader.wait(1000));
        // Each time the box goes away: one error line; each time it is back: one connected line.
        QVERIFY2(out.lines().size() == 4, qPrintable(out.text()));
        for (int i : {0, 2})
            QVERIFY2(out.lines()[i].startsWith(kPrefix), qPrintable(out.text()));
        for (int i : {1, 3})
            QCOMPARE(out.lines()[i], kConnected);
    }
    QCOMPARE(seen.items(), states);
    // Closed before each reopen, and at the end.
    QCOMPARE(fake_hid::counts().closes, fake_hid::counts().opens);
    QCOMPARE(fake_hid::counts().open_handles, 0);
}

void TestHidReader::stopWhileWaitingEndsWithinOnePass()
{
    fake_hid::reset_absent();
    HIDReaderThread reader(reconnecting(true));
    OutputCapture out;
    reader.start();
    QTRY_COMPARE(fake_hid::counts().open_attempts, 1);
    reader.stop(); // early in the pause before the next attempt
    // Well before the pause would have ended by itself.
    QVERIFY(reader.wait(HIDReaderThread::kReconnectPauseMs / 2));
    QCOMPARE(fake_hid::counts().open_attempts, 1);
    QCOMPARE(out.lines().size(), 1);
}

namespace {

DeviceOptions box_choosing(const QString &serial, const QString &port = {}, const QString &name = {})
{
    DeviceOptions options;
    options.serial = serial;
    options.port = port;
    options.name = name;
    return options;
}

} // namespace

// The fake has one box, serial "FAKE-1", with no known port.
void TestHidReader::choosesTheConfiguredBox_data()
{
    QTest::addColumn<QList<DeviceOptions>>("boxes");
    // Per box: empty when it is read, else the reason it is not.
    QTest::addColumn<QStringList>("reasons");
    const QString none = QStringLiteral("no switch box (USB 2e8a:000a)%1 is connected; is it plugged in?");
    QTest::newRow("its serial") << QList<DeviceOptions>{box_choosing(QStringLiteral("FAKE-1"))}
                                << QStringList{QString()};
    QTest::newRow("another serial") << QList<DeviceOptions>{box_choosing(QStringLiteral("FAKE-2"))}
                                    << QStringList{none.arg(QStringLiteral(" with serial \"FAKE-2\""))};
    QTest::newRow("a port it is not at") << QList<DeviceOptions>{box_choosing({}, QStringLiteral("1-3.2"))}
                                         << QStringList{none.arg(QStringLiteral(" at port 1-3.2"))};
    // One box is read once: a second entry for any box does not open it again.
    QTest::newRow("two entries, one box")
        << QList<DeviceOptions>{{}, box_choosing({}, {}, QStringLiteral("left pedal"))}
        << QStringList{QString(), QStringLiteral("box 2 (left pedal): ") + none.arg(QString())};
    // Two entries naming one box: the second says which entry has it.
    QTest::newRow("two entries, one serial")
        << QList<DeviceOptions>{box_choosing(QStringLiteral("FAKE-1")),
                                box_choosing(QStringLiteral("FAKE-1"), {}, QStringLiteral("right"))}
        << QStringList{QString(), QStringLiteral("box 2 (right): the switch box (USB 2e8a:000a) with serial "
                                                 "\"FAKE-1\" is plugged in, but another entry of \"devices\" "
                                                 "(box 1) has it")};
    // An entry for any box leaves alone the box another entry names.
    QTest::newRow("any box after the named one")
        << QList<DeviceOptions>{{}, box_choosing(QStringLiteral("FAKE-1"))}
        << QStringList{QStringLiteral("box 1: ") + none.arg(QString()), QString()};
}

void TestHidReader::choosesTheConfiguredBox()
{
    QFETCH(QList<DeviceOptions>, boxes);
    QFETCH(QStringList, reasons);
    fake_hid::reset_present();
    HIDReaderThread reader(boxes);
    Recorded<std::pair<int, QString>> seen;
    connect(
        &reader, &HIDReaderThread::state_changed, &reader,
        [&seen](DeviceState state, const QString &reason, int box) {
            seen.append({box, state == DeviceState::Connected ? QString() : reason});
        },
        Qt::DirectConnection);
    OutputCapture out;
    reader.start();
    QTRY_COMPARE(seen.items().size(), boxes.size());
    reader.stop();
    QVERIFY(reader.wait(1000));
    QStringList got(boxes.size());
    for (const auto &[box, reason] : seen.items())
        got[box] = reason;
    QCOMPARE(got, reasons);
    const auto read = std::count(reasons.cbegin(), reasons.cend(), QString());
    QCOMPARE(fake_hid::counts().opens, read);
    QCOMPARE(fake_hid::counts().open_handles, 0);
}

void TestHidReader::portFromSysfsPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("port");
    QTest::newRow("behind a hub") << QStringLiteral(
        "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3.2/1-3.2:1.0/"
        "0003:2E8A:000A.0005/hidraw/hidraw3")
                                  << QStringLiteral("1-3.2");
    QTest::newRow("root port") << QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/"
                                                 "0003:2E8A:000A.0001/hidraw/hidraw0")
                               << QStringLiteral("2-1");
    QTest::newRow("not on USB") << QStringLiteral(
        "/sys/devices/virtual/misc/uhid/0003:2E8A:000A.0007/hidraw/hidraw1")
                                << QString();
    QTest::newRow("an interface only") << QStringLiteral("/sys/x/1-3.2:1.0/hidraw/hidraw3") << QString();
}

void TestHidReader::portFromSysfsPath()
{
    QFETCH(QString, path);
    QFETCH(QString, port);
    QCOMPARE(usb_port::from_sysfs_path(path), port);
}

QTEST_GUILESS_MAIN(TestHidReader)
#include "test_hid_reader.moc"
