#pragma once

#include "common/bar_options.h"
#include "common/device_state.h"

#include <QByteArray>
#include <QThread>

#include <atomic>

// Polls the USB HID switch box without blocking and hands every non-empty
// input report to the GUI thread through `received`. With `reconnect` it
// outlives a failure: it waits for the box and polls it again once it is back.
class HIDReaderThread : public QThread
{
    Q_OBJECT

public:
    static constexpr int kDefaultVendorId = DeviceOptions::kDefaultVendorId;
    static constexpr int kDefaultProductId = DeviceOptions::kDefaultProductId;
    static constexpr int kReportSize = 64;
    static constexpr int kPollPauseMs = 10;
    // Between two attempts to open a missing box, slept in poll-sized slices
    // so that stop() acts as fast as while polling.
    static constexpr int kReconnectPauseMs = 1000;

    explicit HIDReaderThread(int vid = kDefaultVendorId, int pid = kDefaultProductId,
                             QObject *parent = nullptr);
    explicit HIDReaderThread(const DeviceOptions &options, QObject *parent = nullptr);
    // Stops and joins the thread: destroying a running QThread aborts the process.
    ~HIDReaderThread() override;

    void stop();

    const int vid;
    const int pid;
    const bool reconnect = false;
    // Say when the box is opened the first time too (set before start): a
    // reader that replaces another one is news, like a box that came back.
    bool announce_connection = false;

signals:
    void received(const QByteArray &data);
    // Each change of the box's state, with the full reason in words.
    void state_changed(DeviceState state, const QString &reason);

protected:
    void run() override;

private:
    struct Failure
    {
        DeviceState state = DeviceState::Failed;
        QString reason;             // empty: no failure, the reader was stopped
        bool was_connected = false; // the box was opened and polled first
    };

    // Opens the box and polls it until stop() or a failure.
    Failure _open_and_poll(bool after_failure);
    // Sleeps up to `ms` in short slices; false once stop() was called.
    bool _pause(int ms);
    void _set_state(DeviceState state, const QString &reason);

    std::atomic<bool> _running{true};
    // Touched by the reader thread only.
    std::optional<DeviceState> _state;
    QString _reason;
};
