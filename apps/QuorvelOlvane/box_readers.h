// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/bar_options.h"
#include "common/box_state.h"
#include "common/hid_reader_thread.h"

#include <QByteArray>
#include <QObject>

#include <memory>
#include <optional>

// The switch boxes the bar reads: one reader thread on the configured boxes,
// made anew when other boxes are configured, and how they stand, summed up
// once for each change a reader reports.
class BoxReaders final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kStopWaitMs = 1000;

    // Reads `boxes` (none: no reader). A reader stays on the boxes it was made
    // for; the same boxes with other settings keep it and are summed up again.
    void read(const QList<DeviceOptions> &boxes);
    // Stops the reader, waiting at most kStopWaitMs for it.
    void stop();
    const std::optional<BoxSummary> &state() const { return _state; }
    // How lines name box `box` ("box 2 (left pedal)"); empty with one box.
    QString box_label(int box) const { return thread ? thread->box_name(box) : QString(); }

    std::unique_ptr<HIDReaderThread> thread;

signals:
    void received(const QByteArray &data, int box);
    void state_changed(const BoxSummary &summary);

private:
    void _start(const QList<DeviceOptions> &boxes);
    void _summarize(int latest);

    QList<DeviceOptions> _boxes;
    int _generation = 0; // drops what a replaced reader still had queued
    // Per box, as the current reader reports it; empty until its first report.
    QList<box_state::BoxState> _states;
    int _latest = 0;
    std::optional<BoxSummary> _state;
};
