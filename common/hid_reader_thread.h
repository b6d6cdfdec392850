// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/bar_options.h"
#include "common/device_state.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QThread>

#include <atomic>
#include <optional>

struct hid_device_;
using hid_device = hid_device_;

// One HID device as the system lists it.
struct HidDeviceInfo
{
    int vendor_id = 0;
    int product_id = 0;
    QString manufacturer;
    QString product;
    QString serial;
    QString path;

    friend bool operator==(const HidDeviceInfo &, const HidDeviceInfo &) = default;
};

// Polls the USB HID switch boxes without blocking and hands every non-empty
// input report to the GUI thread through `received`. With `reconnect` it
// outlives a failure: it waits for the box and polls it again once it is back.
// One thread polls every box, so four boxes cost about what one does.
class HIDReaderThread : public QThread
{
    Q_OBJECT

public:
    static constexpr int kDefaultVendorId = DeviceOptions::kDefaultVendorId;
    static constexpr int kDefaultProductId = DeviceOptions::kDefaultProductId;
    static constexpr int kReportSize = 64;
    static constexpr int kPollPauseMs = 10;
    // Between two attempts to open a missing box, counted in poll passes so
    // that stop() acts as fast as while polling.
    static constexpr int kReconnectPauseMs = 1000;

    explicit HIDReaderThread(int vid = kDefaultVendorId, int pid = kDefaultProductId,
                             QObject *parent = nullptr);
    explicit HIDReaderThread(const DeviceOptions &options, QObject *parent = nullptr);
    // Several boxes at once ("devices"); lines and states name each as "box N (name)".
    explicit HIDReaderThread(const QList<DeviceOptions> &boxes, QObject *parent = nullptr);
    // Stops and joins the thread: destroying a running QThread aborts the process.
    ~HIDReaderThread() override;

    void stop();

    // Every HID device connected now, in the system's order. Safe beside a
    // running reader: the library's shared state is used by one at a time.
    static QList<HidDeviceInfo> connected_devices();

    // What each box is called in lines and on the bar: "box 2 (left pedal)";
    // empty for a reader of a single box.
    QString box_name(int box) const;

    const QList<DeviceOptions> boxes;
    // The first box's, for a reader of a single box.
    const int vid;
    const int pid;
    const bool reconnect = false;
    // Say when the box is opened the first time too (set before start): a
    // reader that replaces another one is news, like a box that came back.
    bool announce_connection = false;

signals:
    // `box` is the index in `boxes`.
    void received(const QByteArray &data, int box);
    // Each change of a box's state, with the full reason in words.
    void state_changed(DeviceState state, const QString &reason, int box);

protected:
    void run() override;

private:
    struct Failure
    {
        DeviceState state = DeviceState::Failed;
        QString reason;
        bool was_connected = false; // the box was opened and polled first
    };
    // What the reader thread knows of one box.
    struct Box
    {
        hid_device *device = nullptr;
        QByteArray path;         // of the open device
        bool waiting = false;    // since a failure, until the box is read again
        bool unplugged = false;  // the last failure was a box going away
        bool done = false;       // failed without reconnect: not tried again
        int passes_to_retry = 0; // poll passes until the next attempt to open
        std::optional<DeviceState> state;
        QString reason;
    };

    // The boxes' states live in run(), on the reader's own thread: nothing
    // of them outlives it in the thread object.
    void _open(QList<Box> &state, int box);
    void _poll(QList<Box> &state, int box);
    void _fail(Box &entry, int box, const Failure &failure);
    void _set_state(Box &entry, int box, DeviceState state, const QString &reason);
    // The box to open for entry `box`, or nothing with the reason why.
    hid_device *_find_and_open(QList<Box> &state, int box, Failure &why);
    QByteArray _free_path(const QList<Box> &state, int box, int &held_by) const;

    std::atomic<bool> _running{true};
};
