// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/hid_reader_thread.h"

#include "common/diagnostics.h"
#include "common/usb_port.h"

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

// Why the box at `node` could not be opened: no permission, or the device
// layer's own reason.
OpenFailure failure_at(const QString &node, const QString &name, const QString &reason)
{
#ifdef Q_OS_LINUX
    if (!node.isEmpty() && ::access(node.toLocal8Bit().constData(), R_OK | W_OK) != 0 && errno == EACCES) {
        return {DeviceState::NoPermission,
                QStringLiteral("permission denied on %1 for the %2; install the udev rule "
                               "70-quorvelolvane.rules (see docs/guide/troubleshooting.md), "
                               "then unplug and replug the box")
                    .arg(node, name)};
    }
#endif
    return {DeviceState::Failed, QStringLiteral("cannot open the %1 at %2: %3").arg(name, node, reason)};
}

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
    return failure_at(node, device_name(vid, pid), reason);
}

QString serial_of(const hid_device_info *info)
{
    return info && info->serial_number ? QString::fromWCharArray(info->serial_number) : QString();
}

// The box and where it was found: its node (on Linux; Windows' device paths
// say nothing to a user), serial number and USB port, so that a user of
// several boxes can tell them apart and name one in config.json.
QString connected_to(hid_device *device, int vid, int pid)
{
    QString where;
    // Owned by the handle; freed by hid_close.
    if (const hid_device_info *info = hid_get_device_info(device); info && info->path) {
#ifdef Q_OS_LINUX
        where = QStringLiteral(" at ") + QString::fromLocal8Bit(info->path);
#endif
        const QString serial = serial_of(info);
        const QString port = usb_port::of_device(info->path);
        where +=
            QStringLiteral(", serial %1, port %2")
                .arg(serial.isEmpty() ? QStringLiteral("none") : u'"' + diagnostics::printable(serial) + u'"',
                     port.isEmpty() ? QStringLiteral("unknown") : diagnostics::printable(port));
    }
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

// hidapi keeps its last error, and its device list, for the whole program:
// opening a box and listing devices take turns.
QMutex &device_list_mutex()
{
    static QMutex instance;
    return instance;
}

QString wide(const wchar_t *text)
{
    return text ? QString::fromWCharArray(text) : QString();
}

// What a chosen box must be, in words: ` with serial "X" at port 1-3.2`.
QString choice_of(const DeviceOptions &box)
{
    QString text;
    if (!box.serial.isEmpty())
        text += QStringLiteral(" with serial \"%1\"").arg(diagnostics::printable(box.serial));
    if (!box.port.isEmpty())
        text += QStringLiteral(" at port %1").arg(diagnostics::printable(box.port));
    return text;
}

bool matches(const DeviceOptions &box, const hid_device_info &info)
{
    return (box.serial.isEmpty() || serial_of(&info) == box.serial)
           && (box.port.isEmpty() || usb_port::of_device(info.path) == box.port);
}

} // namespace

HIDReaderThread::HIDReaderThread(int vid_, int pid_, QObject *parent)
    : HIDReaderThread(
        [vid_, pid_] {
            DeviceOptions options;
            options.vendor_id = vid_;
            options.product_id = pid_;
            return options;
        }(),
        parent)
{
}

HIDReaderThread::HIDReaderThread(const DeviceOptions &options, QObject *parent)
    : HIDReaderThread(QList<DeviceOptions>{options}, parent)
{
}

HIDReaderThread::HIDReaderThread(const QList<DeviceOptions> &boxes_, QObject *parent)
    : QThread(parent)
    , boxes(boxes_.isEmpty() ? QList<DeviceOptions>{DeviceOptions{}} : boxes_)
    , vid(boxes.first().vendor_id)
    , pid(boxes.first().product_id)
    , reconnect(boxes.first().reconnect)
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

QList<HidDeviceInfo> HIDReaderThread::connected_devices()
{
    const HidLibrary library;
    const QMutexLocker lock(&device_list_mutex());
    QList<HidDeviceInfo> devices;
    hid_device_info *found = hid_enumerate(0, 0);
    for (const hid_device_info *info = found; info; info = info->next) {
        devices.append({info->vendor_id, info->product_id, wide(info->manufacturer_string),
                        wide(info->product_string), wide(info->serial_number),
                        QString::fromLocal8Bit(info->path ? info->path : "")});
    }
    hid_free_enumeration(found);
    return devices;
}

QString HIDReaderThread::box_name(int box) const
{
    if (boxes.size() < 2)
        return {};
    const QString &name = boxes.at(box).name;
    return name.isEmpty() ? QStringLiteral("box %1").arg(box + 1)
                          : QStringLiteral("box %1 (%2)").arg(box + 1).arg(diagnostics::printable(name));
}

void HIDReaderThread::_set_state(Box &entry, int box, DeviceState state, const QString &reason)
{
    if (entry.state == state && entry.reason == reason)
        return;
    entry.state = state;
    entry.reason = reason;
    emit state_changed(state, reason, box);
}

void HIDReaderThread::run()
{
    const HidLibrary library;
    QList<Box> state(boxes.size());
    // Every box is tried once even when stop() came first: a bar that ends at
    // once (a bad config.json) has still said whether its box is there.
    for (bool first = true;; first = false) {
        bool any = false;
        for (int box = 0; box < state.size() && (first || _running.load()); ++box) {
            Box &entry = state[box];
            if (entry.done)
                continue;
            any = true;
            if (!entry.device && entry.passes_to_retry-- <= 0)
                _open(state, box);
            if (entry.device && _running.load())
                _poll(state, box);
        }
        if (!any || !_running.load())
            break; // stopped, or every box failed for good
        msleep(kPollPauseMs);
    }
    // hid_close cannot fail; every handle is closed once, on every path.
    for (Box &entry : state) {
        if (entry.device)
            hid_close(entry.device);
        entry.device = nullptr;
    }
}

// The path of a box with `box`'s ids that no other entry has or names, or
// empty; `held_by` is the entry that has the box this one names, if any.
QByteArray HIDReaderThread::_free_path(const QList<Box> &state, int box, int &held_by) const
{
    const DeviceOptions &options = boxes.at(box);
    const auto vendor = static_cast<unsigned short>(options.vendor_id);
    const auto product = static_cast<unsigned short>(options.product_id);
    // Skip what another entry has open, and what another entry chose by
    // serial or port: an entry that takes any box takes one nobody named.
    // The entry that has the box open, or -1.
    const auto holder = [&state, box](const hid_device_info &info) {
        for (int other = 0; other < state.size(); ++other) {
            if (other != box && state.at(other).device && state.at(other).path == info.path)
                return other;
        }
        return -1;
    };
    const auto taken = [this, box, &holder](const hid_device_info &info) {
        if (holder(info) >= 0)
            return true;
        for (int other = 0; other < boxes.size(); ++other) {
            if (other != box && !boxes.at(box).chooses_box() && boxes.at(other).chooses_box()
                && boxes.at(other).vendor_id == info.vendor_id
                && boxes.at(other).product_id == info.product_id && matches(boxes.at(other), info))
                return true;
        }
        return false;
    };
    QByteArray path;
    hid_device_info *found = hid_enumerate(vendor, product);
    for (const hid_device_info *info = found; info; info = info->next) {
        if (!info->path || !matches(options, *info))
            continue;
        if (!taken(*info)) {
            path = info->path;
            break;
        }
        if (options.chooses_box() && held_by < 0)
            held_by = holder(*info);
    }
    hid_free_enumeration(found);
    return path;
}

hid_device *HIDReaderThread::_find_and_open(QList<Box> &state, int box, Failure &why)
{
    const DeviceOptions &options = boxes.at(box);
    const QString name = device_name(options.vendor_id, options.product_id);
    const auto vendor = static_cast<unsigned short>(options.vendor_id);
    const auto product = static_cast<unsigned short>(options.product_id);
    if (boxes.size() == 1 && !options.chooses_box()) {
        // The first box with the ids, as ever.
        hid_device *device = hid_open(vendor, product, nullptr);
        if (!device) {
            const OpenFailure failure = open_failure(options.vendor_id, options.product_id);
            why = {failure.state, failure.reason};
        }
        return device;
    }

    int held_by = -1; // the entry holding the box this one names, when that is why none is free
    const QByteArray path = _free_path(state, box, held_by);
    if (path.isEmpty() && held_by >= 0) {
        // Plugged in, but two entries of "devices" name the same box.
        why = {DeviceState::NotConnected,
               QStringLiteral("the %1%2 is plugged in, but another entry of \"devices\" (box %3) has it")
                   .arg(name, choice_of(options))
                   .arg(held_by + 1)};
        return nullptr;
    }
    if (path.isEmpty()) {
        why = {DeviceState::NotConnected,
               QStringLiteral("no %1%2 is connected; is it plugged in?").arg(name, choice_of(options))};
        return nullptr;
    }
    hid_device *device = hid_open_path(path.constData());
    if (!device) {
        const OpenFailure failure = failure_at(QString::fromLocal8Bit(path), name, hidapi_error(nullptr));
        why = {failure.state, failure.reason};
        return nullptr;
    }
    state[box].path = path;
    return device;
}

void HIDReaderThread::_open(QList<Box> &state, int box)
{
    Box &entry = state[box];
    const DeviceOptions &options = boxes.at(box);
    Failure failure;
    hid_device *device = nullptr;
    {
        const QMutexLocker lock(&device_list_mutex());
        device = _find_and_open(state, box, failure);
    }
    if (!device) {
        _fail(entry, box, failure);
        return;
    }
    if (hid_set_nonblocking(device, 1) != 0) {
        failure = {DeviceState::Failed,
                   QStringLiteral("cannot switch the %1 to non-blocking reads: %2")
                       .arg(device_name(options.vendor_id, options.product_id), hidapi_error(device))};
        hid_close(device);
        _fail(entry, box, failure);
        return;
    }
    entry.device = device;
    const QString where = connected_to(device, options.vendor_id, options.product_id);
    const QString named = box_name(box).isEmpty() ? where : box_name(box) + QStringLiteral(": ") + where;
    // A user who chose among boxes wants to see which one each entry has.
    if (entry.waiting || announce_connection || boxes.size() > 1 || options.chooses_box())
        diagnostics::out(kConnectedPrefix + named);
    _set_state(entry, box, DeviceState::Connected, named);
}

void HIDReaderThread::_poll(QList<Box> &state, int box)
{
    Box &entry = state[box];
    std::array<unsigned char, kReportSize> buffer{};
    const int count = hid_read(entry.device, buffer.data(), buffer.size());
    if (count > 0) {
        emit received(QByteArray(reinterpret_cast<const char *>(buffer.data()), qMin(count, kReportSize)),
                      box);
        return;
    }
    if (count == 0)
        return;
    const DeviceOptions &options = boxes.at(box);
    const Failure failure{
        DeviceState::Unplugged,
        QStringLiteral("reading the %1 failed (unplugged?): %2")
            .arg(device_name(options.vendor_id, options.product_id), hidapi_error(entry.device)),
        true};
    // Closed before the failure is reported or the box opened again.
    hid_close(entry.device);
    entry.device = nullptr;
    entry.path.clear();
    _fail(entry, box, failure);
}

void HIDReaderThread::_fail(Box &entry, int box, const Failure &failure)
{
    const QString reason =
        box_name(box).isEmpty() ? failure.reason : box_name(box) + QStringLiteral(": ") + failure.reason;
    // One line per failure, however many attempts it takes to reopen.
    if (!entry.waiting || failure.was_connected)
        diagnostics::out(kErrorPrefix + reason);
    // A box that was pulled out is still "unplugged" while it stays away,
    // not merely "not connected"; any other news (no permission) is shown.
    const bool still_away = entry.waiting && !failure.was_connected && entry.unplugged
                            && failure.state == DeviceState::NotConnected;
    if (!still_away)
        _set_state(entry, box, failure.state, reason);
    entry.unplugged =
        failure.was_connected ? failure.state == DeviceState::Unplugged : entry.unplugged && still_away;
    entry.waiting = true;
    if (boxes.at(box).reconnect)
        entry.passes_to_retry = kReconnectPauseMs / kPollPauseMs;
    else
        entry.done = true;
}
