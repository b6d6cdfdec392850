// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/box_readers.h"

#include <QStringList>

#include <algorithm>

void BoxReaders::read(const QList<DeviceOptions> &boxes)
{
    const bool same =
        thread && thread->boxes.size() == boxes.size()
        && std::equal(boxes.cbegin(), boxes.cend(), thread->boxes.cbegin(),
                      [](const DeviceOptions &a, const DeviceOptions &b) { return a.same_box(b); });
    _boxes = boxes;
    if (boxes.isEmpty()) {
        stop();
        thread.reset();
        _states.clear();
        _state.reset();
    } else if (!same) {
        _start(boxes);
    } else {
        _summarize(_latest); // "show_state" or "reconnect" may have changed
    }
}

// Stops the reader thread: not a const operation, whatever the pointer allows.
void BoxReaders::stop() // NOLINT(readability-make-member-function-const)
{
    if (thread && thread->isRunning()) {
        thread->stop();
        thread->wait(kStopWaitMs);
    }
}

void BoxReaders::_start(const QList<DeviceOptions> &boxes)
{
    stop();
    thread.reset();
    ++_generation;
    _state.reset();
    _states = decltype(_states)(boxes.size());
    thread = std::make_unique<HIDReaderThread>(boxes);
    // A reader that takes over from another says when it has the box, as one
    // that waited for it does.
    thread->announce_connection = _generation > 1;
    connect(thread.get(), &HIDReaderThread::received, this,
            [this, generation = _generation](const QByteArray &data, int box) {
                if (generation == _generation)
                    emit received(data, box);
            });
    connect(thread.get(), &HIDReaderThread::state_changed, this,
            [this, generation = _generation](DeviceState state, const QString &reason, int box) {
                if (generation != _generation || box < 0 || box >= _states.size())
                    return;
                _states[box].emplace(state, reason);
                _summarize(box);
            });
    thread->start();
}

void BoxReaders::_summarize(int latest)
{
    QStringList names;
    for (int box = 0; box < _states.size(); ++box)
        names.append(box_label(box));
    _latest = latest;
    _state = box_state::summarize(_states, _boxes, names, latest);
    if (_state)
        emit state_changed(*_state);
}
