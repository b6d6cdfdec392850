#include "common/hid_reader_thread.h"

#include "common/diagnostics.h"

#include <hidapi.h>

#include <QMutex>
#include <QMutexLocker>

#include <array>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace {

const QString kErrorPrefix = QStringLiteral("[HIDReaderThread] ❌ エラー: ");
const QString kConnectedPrefix = QStringLiteral("[HIDReaderThread] connected: ");

QString device_name(int vid, int pid)
{
    return QStringLiteral("switch box (USB %1:%2)")
        .arg(vid, 4, 16, QLatin1Char('0'))
        .arg(pid, 4, 16, QLatin1Char('0'));
}

QString hidapi_error(hid_device *device)
{
    const wchar_t *text = hid_error(device);
    return text ? QString::fromWCharArray(text) : QStringLiteral("no reason given");
}

struct OpenFailure
{
    DeviceState state;
    QString reason;
};

// Says why hid_open failed: no such device, no permission, or the device
// layer's own reason. Called in the reader thread only (hidapi is not thread-safe).
OpenFailure open_failure(int vid, int pid)
{
    const QString reason = hidapi_error(nullptr);
    hid_device_info *found =
        hid_enumerate(static_cast<unsigned short>(vid), static_cast<unsigned short>(pid));
    if (!found) {
        return {DeviceState::NotConnected,
                QStringLiteral("no %1 is connected; is it plugged in?").arg(device_name(vid, pid))};
    }
    const QString node = QString::fromLocal8Bit(found->path ? found->path : "");
    hid_free_enumeration(found);
#ifdef Q_OS_LINUX
    if (!node.isEmpty() && ::access(node.toLocal8Bit().constData(), R_OK | W_OK) != 0 && errno == EACCES) {
        return {DeviceState::NoPermission,
                QStringLiteral("permission denied on %1 for the %2; install the udev rule "
                               "70-quorvelolvane.rules (see the README, \"Troubleshooting\"), "
                               "then unplug and replug the box")
                    .arg(node, device_name(vid, pid))};
    }
#endif
    return {DeviceState::Failed,
            QStringLiteral("cannot open the %1 at %2: %3").arg(device_name(vid, pid), node, reason)};
}

// The box and, where the device layer names one (the hidraw node on Linux),
// where it was found.
QString connected_to(hid_device *device, int vid, int pid)
{
    QString where;
#if defined(Q_OS_LINUX) && HID_API_VERSION >= HID_API_MAKE_VERSION(0, 13, 0)
    // Owned by the handle; freed by hid_close.
    if (const hid_device_info *info = hid_get_device_info(device); info && info->path)
        where = QStringLiteral(" at ") + QString::fromLocal8Bit(info->path);
#else
    Q_UNUSED(device)
#endif
    return device_name(vid, pid) + where;
}

// hidapi asks programs that open devices from more than one thread to call
// hid_init first and hid_exit once all is closed; readers come and go (one is
// replaced when the configured box changes), so the first one in initialises
// and the last one out releases.
class HidLibrary
{
public:
    HidLibrary()
    {
        const QMutexLocker lock(&mutex());
        if (users()++ == 0)
            hid_init(); // on failure hid_open fails too, and says why
    }
    HidLibrary(const HidLibrary &) = delete;
    HidLibrary &operator=(const HidLibrary &) = delete;
    ~HidLibrary()
    {
        const QMutexLocker lock(&mutex());
        if (--users() == 0)
            hid_exit();
    }

private:
    static QMutex &mutex()
    {
        static QMutex instance;
        return instance;
    }
    static int &users()
    {
        static int count = 0;
        return count;
    }
};

} // namespace

HIDReaderThread::HIDReaderThread(int vid_, int pid_, QObject *parent)
    : QThread(parent)
    , vid(vid_)
    , pid(pid_)
{
}

HIDReaderThread::HIDReaderThread(const DeviceOptions &options, QObject *parent)
    : QThread(parent)
    , vid(options.vendor_id)
    , pid(options.product_id)
    , reconnect(options.reconnect)
{
}

HIDReaderThread::~HIDReaderThread()
{
    stop();
    wait();
}

void HIDReaderThread::stop()
{
    _running.store(false);
}

void HIDReaderThread::_set_state(DeviceState state, const QString &reason)
{
    if (_state == state && _reason == reason)
        return;
    _state = state;
    _reason = reason;
    emit state_changed(state, reason);
}

bool HIDReaderThread::_pause(int ms)
{
    for (int slept = 0; slept < ms && _running.load(); slept += kPollPauseMs)
        msleep(kPollPauseMs);
    return _running.load();
}

void HIDReaderThread::run()
{
    const HidLibrary library;
    bool waiting = false;   // since a failure, until the box is read again
    bool unplugged = false; // the last failure was a box going away
    for (;;) {
        const Failure failure = _open_and_poll(waiting);
        if (failure.reason.isEmpty())
            return; // stopped
        // One line per failure, however many attempts it takes to reopen.
        if (!waiting || failure.was_connected)
            diagnostics::out(kErrorPrefix + failure.reason);
        // A box that was pulled out is still "unplugged" while it stays away,
        // not merely "not connected"; any other news (no permission) is shown.
        const bool still_away =
            waiting && !failure.was_connected && unplugged && failure.state == DeviceState::NotConnected;
        if (!still_away)
            _set_state(failure.state, failure.reason);
        unplugged = failure.was_connected ? failure.state == DeviceState::Unplugged : unplugged && still_away;
        waiting = true;
        if (!reconnect || !_pause(kReconnectPauseMs))
            return;
    }
}

HIDReaderThread::Failure HIDReaderThread::_open_and_poll(bool after_failure)
{
    hid_device *device =
        hid_open(static_cast<unsigned short>(vid), static_cast<unsigned short>(pid), nullptr);
    if (!device) {
        const OpenFailure why = open_failure(vid, pid);
        return {why.state, why.reason};
    }

    Failure failure;
    if (hid_set_nonblocking(device, 1) != 0) {
        failure = {DeviceState::Failed, QStringLiteral("cannot switch the %1 to non-blocking reads: %2")
                                            .arg(device_name(vid, pid), hidapi_error(device))};
    } else {
        if (after_failure || announce_connection)
            diagnostics::out(kConnectedPrefix + connected_to(device, vid, pid));
        _set_state(DeviceState::Connected, connected_to(device, vid, pid));
        failure.was_connected = true;
        std::array<unsigned char, kReportSize> buffer{};
        while (_running.load()) {
            const int count = hid_read(device, buffer.data(), buffer.size());
            if (count < 0) {
                failure.state = DeviceState::Unplugged;
                failure.reason = QStringLiteral("reading the %1 failed (unplugged?): %2")
                                     .arg(device_name(vid, pid), hidapi_error(device));
                break;
            }
            if (count > 0)
                emit received(
                    QByteArray(reinterpret_cast<const char *>(buffer.data()), qMin(count, kReportSize)));
            msleep(kPollPauseMs);
        }
    }
    // hid_close cannot fail; the handle is closed once, here, on every path,
    // before the failure is reported or the box opened again.
    hid_close(device);
    return failure;
}
