#include "common/hid_reader_thread.h"

#include "common/diagnostics.h"

#include <hidapi.h>

#include <array>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace {

const QString kErrorPrefix = QStringLiteral("[HIDReaderThread] ❌ エラー: ");

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

// Says why hid_open failed: no such device, no permission, or the device
// layer's own reason. Called in the reader thread only (hidapi is not thread-safe).
QString open_failure(int vid, int pid)
{
    const QString reason = hidapi_error(nullptr);
    hid_device_info *found =
        hid_enumerate(static_cast<unsigned short>(vid), static_cast<unsigned short>(pid));
    if (!found) {
        return QStringLiteral("no %1 is connected; is it plugged in?").arg(device_name(vid, pid));
    }
    const QString node = QString::fromLocal8Bit(found->path ? found->path : "");
    hid_free_enumeration(found);
#ifdef Q_OS_LINUX
    if (!node.isEmpty() && ::access(node.toLocal8Bit().constData(), R_OK | W_OK) != 0 && errno == EACCES) {
        return QStringLiteral("permission denied on %1 for the %2; install the udev rule "
                              "70-quorvelolvane.rules (see the README, \"Troubleshooting\"), "
                              "then unplug and replug the box")
            .arg(node, device_name(vid, pid));
    }
#endif
    return QStringLiteral("cannot open the %1 at %2: %3").arg(device_name(vid, pid), node, reason);
}

} // namespace

HIDReaderThread::HIDReaderThread(int vid_, int pid_, QObject *parent)
    : QThread(parent)
    , vid(vid_)
    , pid(pid_)
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

void HIDReaderThread::run()
{
    hid_device *device =
        hid_open(static_cast<unsigned short>(vid), static_cast<unsigned short>(pid), nullptr);
    if (!device) {
        diagnostics::out(kErrorPrefix + open_failure(vid, pid));
        return;
    }

    QString failure;
    if (hid_set_nonblocking(device, 1) != 0) {
        failure = QStringLiteral("cannot switch the %1 to non-blocking reads: %2")
                      .arg(device_name(vid, pid), hidapi_error(device));
    } else {
        std::array<unsigned char, kReportSize> buffer{};
        while (_running.load()) {
            const int count = hid_read(device, buffer.data(), buffer.size());
            if (count < 0) {
                failure = QStringLiteral("reading the %1 failed (unplugged?): %2")
                              .arg(device_name(vid, pid), hidapi_error(device));
                break;
            }
            if (count > 0)
                emit received(
                    QByteArray(reinterpret_cast<const char *>(buffer.data()), qMin(count, kReportSize)));
            msleep(kPollPauseMs);
        }
    }
    if (!failure.isEmpty())
        diagnostics::out(kErrorPrefix + failure);
    // hid_close cannot fail; the handle is closed once, here, on every path.
    hid_close(device);
}
