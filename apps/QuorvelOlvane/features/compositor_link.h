// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/compositor_ipc.h"
#include "common/local_stream.h"

#include <QByteArray>
#include <QObject>
#include <QRect>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class ScreenPlacement;

// One compositor's client: finds the bar's own window over the compositor's
// socket and has it floating, on every workspace and where the bar belongs.
// Everything is asynchronous in the GUI thread with time-outs; a fault ends
// the client with one line, and the bar runs on as without it.
class CompositorClient : public QObject
{
    Q_OBJECT

public:
    static constexpr int kAnswerTimeoutMs = 2000;
    // How often a geometry the compositor did not take is asked for again.
    static constexpr int kMaxTries = 6;
    static constexpr int kRetryDelayMs = 250;
    // Sway shows a geometry in its tree once the window has taken it: the
    // tree is read again this often before the request is made again.
    static constexpr int kPolls = 10;
    static constexpr int kPollMs = 30;
    // A geometry sway took may still be undone by what was under way when it
    // was asked (the window's first configure): looked at again this often.
    static constexpr int kLateChecks = 5;
    static constexpr int kLateCheckMs = 100;

    // Where the bar belongs (ScreenPlacement::wanted), asked for whenever needed.
    void set_wanted(std::function<QRect()> wanted) { _wanted = std::move(wanted); }
    // Asks for the bar's place at once when its window is known.
    virtual void place() = 0;

signals:
    // The compositor is asked to move the bar: what moves it next is not the user.
    void placing();

protected:
    explicit CompositorClient(compositor_ipc::Kind kind);
    // One line, and the client does nothing more.
    void fault(const QString &what);
    bool failed() const { return _failed; }
    QRect wanted() const { return _wanted ? _wanted() : QRect(); }

    compositor_ipc::Kind _kind;

private:
    bool _failed = false;
    std::function<QRect()> _wanted;
};

// Chooses the compositor's client from the environment and hands it the
// bar's placement whenever that changes.
class CompositorLink final : public QObject
{
    Q_OBJECT

public:
    // No link without a compositor IPC in the environment; where the session
    // is a tiling compositor the bar cannot reach, says so once per process.
    static std::unique_ptr<CompositorLink> create(ScreenPlacement &placement);
    CompositorLink(std::unique_ptr<CompositorClient> client, ScreenPlacement &placement);
    ~CompositorLink() override;

private:
    std::unique_ptr<CompositorClient> _client;
};

// sway: one i3-ipc connection for requests and for the window and workspace events.
class SwayClient final : public CompositorClient
{
    Q_OBJECT

public:
    explicit SwayClient(const QString &socket);
    void place() override;

private:
    void _send(std::uint32_t type, const QByteArray &payload, std::function<void(const QByteArray &)> answer);
    void _read();
    void _event(std::uint32_t type, const QByteArray &payload);
    void _found(std::int64_t con);
    void _apply();
    void _check(const QByteArray &answer);

    LocalStream _socket;
    QByteArray _buffer;
    std::deque<std::function<void(const QByteArray &)>> _waiting; // answers come in request order
    QTimer _timeout;
    QTimer _retry;
    std::optional<std::int64_t> _con;
    QRect _sent;          // the geometry last asked for
    int _late_checks = 0; // still to come for it
    int _polls = 0;       // reads of the tree since the request
    QTimer _late;
    QTimer _poll;
    bool _refocus = false; // the window was just mapped: the focus goes back
    int _tries = 0;
};

// Hyprland: one connection per request on .socket.sock, events on .socket2.sock.
class HyprlandClient final : public CompositorClient
{
    Q_OBJECT

public:
    HyprlandClient(QString socket, const QString &events);
    void place() override;

private:
    void _request(const QByteArray &request, std::function<void(const QByteArray &)> answer);
    void _apply(bool refocus);
    void _read_events();

    QString _path;
    LocalStream _events;
    QByteArray _event_buffer;
    bool _ready = false; // the version is one the bar knows
    bool _mapped = false;
};

// Wayfire's ipc plugin (0.8 and later): one connection, length-prefixed JSON.
class WayfireClient final : public CompositorClient
{
    Q_OBJECT

public:
    explicit WayfireClient(const QString &socket);
    void place() override;

private:
    void _send(const QByteArray &request, std::function<void(const compositor_ipc::Json &)> answer);
    void _read();
    void _apply();

    LocalStream _socket;
    QByteArray _buffer;
    std::deque<std::function<void(const compositor_ipc::Json &)>> _waiting;
    QTimer _timeout;
};
