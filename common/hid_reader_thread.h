#pragma once

#include "common/device_state.h"

#include <QByteArray>
#include <QThread>

#include <atomic>

// Polls the USB HID switch box without blocking and hands every non-empty
// input report to the GUI thread through `received`.
class HIDReaderThread : public QThread
{
    Q_OBJECT

public:
    static constexpr int kDefaultVendorId = 0x2E8A;
    static constexpr int kDefaultProductId = 0x000A;
    static constexpr int kReportSize = 64;
    static constexpr int kPollPauseMs = 10;

    explicit HIDReaderThread(int vid = kDefaultVendorId, int pid = kDefaultProductId,
                             QObject *parent = nullptr);
    // Stops and joins the thread: destroying a running QThread aborts the process.
    ~HIDReaderThread() override;

    void stop();

    const int vid;
    const int pid;

signals:
    void received(const QByteArray &data);
    // Each change of the box's state, with the full reason in words.
    void state_changed(DeviceState state, const QString &reason);

protected:
    void run() override;

private:
    std::atomic<bool> _running{true};
};
