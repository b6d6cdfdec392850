// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/features/compositor_link.h"

#include "apps/QuorvelOlvane/screen_placement.h"
#include "common/diagnostics.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <functional>
#include <utility>

namespace {

// The handler of the oldest request still waiting, its time-out re-armed for
// the next one; none when no request waits (answers come in request order).
template <class Handler>
std::optional<Handler> next_waiting(std::deque<Handler> &waiting, QTimer &timeout)
{
    if (waiting.empty())
        return std::nullopt;
    Handler answer = std::move(waiting.front());
    waiting.pop_front();
    if (waiting.empty())
        timeout.stop();
    else
        timeout.start();
    return answer;
}

// Moves the compositor makes right after the bar asked it for one (centring
// a window it floats, re-applying its own rules) are not the user's.
constexpr int kCompositorMoveMs = 1000;
// Until the bar's window is first placed, whatever moves it is the compositor.
constexpr int kFirstPlacementMs = 10000;
constexpr qsizetype kMaxEventBuffer = qsizetype{1024} * 1024;

// What a compositor's events make the bar do (placing it anew), at most once
// per interval: a flood of events costs one placement then, and one more at
// the end of the interval, however many events came.
constexpr int kEventGateMs = 100;
void at_most_every(QObject *client, int interval_ms, const std::function<void()> &action)
{
    static const QString name = QStringLiteral("qo-event-gate");
    auto *gate = client->findChild<QTimer *>(name, Qt::FindDirectChildrenOnly);
    if (!gate) {
        gate = new QTimer(client);
        gate->setObjectName(name);
        gate->setSingleShot(true);
        QObject::connect(gate, &QTimer::timeout, client, [gate, action] {
            if (gate->property("pending").toBool()) {
                gate->setProperty("pending", false);
                action();
                gate->start();
            }
        });
    }
    if (gate->isActive()) {
        gate->setProperty("pending", true);
        return;
    }
    action();
    gate->start(interval_ms);
}

std::int64_t own_pid()
{
    return QCoreApplication::applicationPid();
}

QString where(const QRect &rect)
{
    return QStringLiteral("%1x%2 at (%3, %4)")
        .arg(rect.width())
        .arg(rect.height())
        .arg(rect.x())
        .arg(rect.y());
}

} // namespace

// ---- the interface ----------------------------------------------------------

CompositorClient::CompositorClient(compositor_ipc::Kind kind)
    : _kind(kind)
{
}

void CompositorClient::fault(const QString &what)
{
    if (_failed)
        return;
    _failed = true;
    diagnostics::out(QStringLiteral("QuorvelOlvane: %1: %2; the bar goes on without it (see %3)")
                         .arg(compositor_ipc::name(_kind), diagnostics::printable(what),
                              QString::fromLatin1(compositor_ipc::kGuidePage)));
}

std::unique_ptr<CompositorLink> CompositorLink::create(ScreenPlacement &placement)
{
    const compositor_ipc::Found found =
        compositor_ipc::detect([](const char *name) { return qEnvironmentVariable(name); },
                               [](const QString &path) { return QFileInfo::exists(path); });
    std::unique_ptr<CompositorClient> client;
    switch (found.kind) {
    case compositor_ipc::Kind::Sway:
        client = std::make_unique<SwayClient>(found.socket);
        break;
    case compositor_ipc::Kind::Hyprland:
        client = std::make_unique<HyprlandClient>(found.socket, found.events_socket);
        break;
    case compositor_ipc::Kind::Wayfire:
        client = std::make_unique<WayfireClient>(found.socket);
        break;
    case compositor_ipc::Kind::None: {
        static bool said = false;
        if (!found.unreachable.isEmpty() && !said) {
            said = true;
            diagnostics::out(
                QStringLiteral("QuorvelOlvane: %1 has no IPC the bar can reach: it may tile the bar; "
                               "add the rule for it from %2 to its config")
                    .arg(found.unreachable, QString::fromLatin1(compositor_ipc::kGuidePage)));
        }
        return nullptr;
    }
    }
    return std::make_unique<CompositorLink>(std::move(client), placement);
}

CompositorLink::CompositorLink(std::unique_ptr<CompositorClient> client, ScreenPlacement &placement)
    : _client(std::move(client))
{
    placement.hold_outside_moves(kFirstPlacementMs);
    connect(_client.get(), &CompositorClient::placing, &placement,
            [&placement] { placement.hold_outside_moves(kCompositorMoveMs); });
    _client->set_wanted([&placement] { return placement.wanted(); });
    connect(&placement, &ScreenPlacement::wanted_changed, _client.get(), &CompositorClient::place);
    _client->place();
}

CompositorLink::~CompositorLink() = default;

// ---- sway -------------------------------------------------------------------

SwayClient::SwayClient(const QString &socket)
    : CompositorClient(compositor_ipc::Kind::Sway)
{
    namespace sway = compositor_ipc::sway;
    _timeout.setSingleShot(true);
    _timeout.setInterval(kAnswerTimeoutMs);
    connect(&_timeout, &QTimer::timeout, this, [this] { fault(QStringLiteral("no answer within 2 s")); });
    _retry.setSingleShot(true);
    _retry.setInterval(kRetryDelayMs);
    connect(&_retry, &QTimer::timeout, this, &SwayClient::_apply);
    const auto read_tree = [this] {
        _send(compositor_ipc::sway::kGetTree, {}, [this](const QByteArray &tree) { _check(tree); });
    };
    _late.setSingleShot(true);
    _late.setInterval(kLateCheckMs);
    connect(&_late, &QTimer::timeout, this, read_tree);
    _poll.setSingleShot(true);
    _poll.setInterval(kPollMs);
    connect(&_poll, &QTimer::timeout, this, read_tree);
    connect(&_socket, &LocalStream::ready_read, this, &SwayClient::_read);
    const auto lost = [this, socket](const QString &reason) {
        fault(QStringLiteral("its socket %1: %2").arg(socket, reason));
        _timeout.stop();
        _retry.stop();
        _late.stop();
        _poll.stop();
    };
    connect(&_socket, &LocalStream::failed, this, lost);
    connect(&_socket, &LocalStream::closed, this, [lost] { lost(QStringLiteral("sway closed it")); });
    connect(&_socket, &LocalStream::connected, this, [this] {
        _send(sway::kSubscribe, sway::subscribe_payload(), [this](const QByteArray &answer) {
            if (!answer.contains("true"))
                fault(QStringLiteral("it refused the window events: ") + QString::fromUtf8(answer.left(200)));
        });
        // The window may be there already (events come only for what follows).
        _send(sway::kGetTree, {}, [this](const QByteArray &tree) {
            const auto con = sway::find_pid(compositor_ipc::Json::parse(tree, nullptr, false), own_pid());
            if (con && !_con)
                _found(con->id);
        });
    });
    _socket.connect_to(socket);
}

void SwayClient::place()
{
    _tries = 0;
    _apply();
}

void SwayClient::_send(std::uint32_t type, const QByteArray &payload,
                       std::function<void(const QByteArray &)> answer)
{
    if (failed() || !_socket.is_connected())
        return;
    _socket.write(compositor_ipc::sway::frame(type, payload));
    _waiting.push_back(std::move(answer));
    if (!_timeout.isActive())
        _timeout.start();
}

void SwayClient::_read()
{
    _buffer.append(_socket.read_all());
    QString error;
    while (!failed()) {
        std::optional<compositor_ipc::sway::Message> message = compositor_ipc::sway::take(_buffer, &error);
        if (!error.isEmpty()) {
            fault(error);
            _socket.abort();
            return;
        }
        if (!message)
            return;
        if ((message->type & compositor_ipc::sway::kEventBit) != 0U) {
            _event(message->type, message->payload);
            continue;
        }
        const auto answer = next_waiting(_waiting, _timeout);
        if (!answer) {
            fault(QStringLiteral("an answer to no request"));
            _socket.abort();
            return;
        }
        (*answer)(message->payload);
    }
}

void SwayClient::_event(std::uint32_t type, const QByteArray &payload)
{
    namespace sway = compositor_ipc::sway;
    if (const auto con = sway::window_event_con(type, payload, own_pid())) {
        // A new con for the bar (first shown, or shown again from the tray).
        if (*con != _con) {
            _con = *con;
            _refocus = true;
            _tries = 0;
            at_most_every(this, kEventGateMs, [this] { _apply(); });
        }
        return;
    }
    if (sway::is_reload(type, payload)) {
        // The reload may leave the floating bar elsewhere: placed anew.
        _tries = 0;
        at_most_every(this, kEventGateMs, [this] { _apply(); });
    }
}

void SwayClient::_found(std::int64_t con)
{
    _con = con;
    _refocus = true;
    _tries = 0;
    _apply();
}

void SwayClient::_apply()
{
    namespace sway = compositor_ipc::sway;
    if (!_con || !wanted().isValid() || failed())
        return;
    _retry.stop();
    _late.stop();
    _poll.stop();
    ++_tries;
    _sent = wanted();
    _late_checks = kLateChecks;
    _polls = 0;
    emit placing();
    _send(sway::kRunCommand, sway::place_command(*_con, _sent), [this](const QByteArray &answer) {
        if (const QString error = sway::command_error(answer); !error.isEmpty())
            fault(QStringLiteral("it did not float the bar: ") + error);
    });
    _send(sway::kGetTree, {}, [this](const QByteArray &tree) { _check(tree); });
}

// Sway may still apply a geometry of its own after the commands (the bar's
// own X configure request centres a floating window): the tree tells.
void SwayClient::_check(const QByteArray &answer)
{
    namespace sway = compositor_ipc::sway;
    const compositor_ipc::Json tree = compositor_ipc::Json::parse(answer, nullptr, false);
    const auto con = sway::find_pid(tree, own_pid());
    if (!con || con->id != _con)
        return; // gone, or replaced: its window event comes
    if (_refocus && con->focused) {
        if (const auto before = sway::focus_before(tree, con->id))
            _send(sway::kRunCommand, sway::focus_command(*before), [](const QByteArray &) {});
    }
    _refocus = false;
    if (con->floating && con->sticky && con->rect == _sent) {
        if (_late_checks-- > 0) {
            emit placing(); // sway may yet move it: not the user
            _late.start();
        }
        return;
    }
    // Taken and then undone (a frame the window drew at its old size makes
    // sway 1.7 resize a floating window to it): asked for again at once.
    if (_late_checks < kLateChecks && _tries < kMaxTries) {
        _apply();
        return;
    }
    if (_polls < kPolls) {
        ++_polls;
        _poll.start();
        return;
    }
    if (_tries < kMaxTries) {
        _retry.start();
        return;
    }
    diagnostics::out(
        QStringLiteral("QuorvelOlvane: sway keeps the bar %1%2, not %3 as asked")
            .arg(con->floating ? QString() : QStringLiteral("tiled, "), where(con->rect), where(_sent)));
}

// ---- Hyprland -----------------------------------------------------------------

HyprlandClient::HyprlandClient(QString socket, const QString &events)
    : CompositorClient(compositor_ipc::Kind::Hyprland)
    , _path(std::move(socket))
{
    namespace hyprland = compositor_ipc::hyprland;
    connect(&_events, &LocalStream::ready_read, this, &HyprlandClient::_read_events);
    connect(&_events, &LocalStream::failed, this, [this, events](const QString &reason) {
        fault(QStringLiteral("its event socket %1: %2").arg(events, reason));
    });
    connect(&_events, &LocalStream::closed, this,
            [this, events] { fault(QStringLiteral("its event socket %1: Hyprland closed it").arg(events)); });
    _request(hyprland::kVersion, [this, events](const QByteArray &answer) {
        const auto version = hyprland::version(answer);
        if (!version) {
            fault(QStringLiteral("an unreadable version: ") + QString::fromUtf8(answer.left(200)));
            return;
        }
        if (!hyprland::handled(*version)) {
            fault(QStringLiteral("version %1.%2 is not one the bar knows (0.40 to 0.55)")
                      .arg(version->first)
                      .arg(version->second));
            return;
        }
        _ready = true;
        _events.connect_to(events);
        _apply(true);
    });
}

void HyprlandClient::place()
{
    _apply(false);
}

void HyprlandClient::_request(const QByteArray &request, std::function<void(const QByteArray &)> answer)
{
    if (failed())
        return;
    // Hyprland serves its socket synchronously: one request per connection,
    // closed as soon as the answer is in.
    auto *socket = new LocalStream(this);
    auto *timeout = new QTimer(socket);
    auto received = std::make_shared<QByteArray>();
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, socket, [this, socket] {
        socket->abort();
        socket->deleteLater();
        fault(QStringLiteral("no answer within 2 s"));
    });
    connect(socket, &LocalStream::connected, socket, [socket, request] { socket->write(request); });
    connect(socket, &LocalStream::ready_read, socket, [this, socket, received] {
        received->append(socket->read_all());
        if (received->size() > compositor_ipc::hyprland::kMaxAnswer) {
            socket->abort();
            socket->deleteLater();
            fault(QStringLiteral("an answer of more than %1 bytes, the most the bar reads")
                      .arg(compositor_ipc::hyprland::kMaxAnswer));
        }
    });
    // The answer is whole when Hyprland closes the connection.
    connect(socket, &LocalStream::closed, socket, [this, socket, received, answer = std::move(answer)] {
        socket->deleteLater();
        if (compositor_ipc::too_deep(*received))
            fault(compositor_ipc::nested_too_deep());
        else
            answer(*received);
    });
    connect(socket, &LocalStream::failed, socket, [this, socket](const QString &reason) {
        socket->deleteLater();
        fault(QStringLiteral("its socket %1: %2").arg(_path, reason));
    });
    timeout->start(kAnswerTimeoutMs);
    socket->connect_to(_path);
}

void HyprlandClient::_apply(bool refocus)
{
    namespace hyprland = compositor_ipc::hyprland;
    if (!_ready || !wanted().isValid() || failed())
        return;
    _request(hyprland::kClients, [this, refocus](const QByteArray &clients) {
        const auto client = hyprland::find_pid(clients, own_pid());
        if (!client || !wanted().isValid())
            return; // not mapped yet: its openwindow event comes
        _mapped = true;
        emit placing();
        const QString before = refocus ? hyprland::focus_before(clients, client->address) : QString();
        _request(hyprland::place_request(*client, wanted(), before), [this](const QByteArray &answer) {
            if (const QString error = hyprland::batch_error(answer); !error.isEmpty())
                fault(QStringLiteral("it did not float the bar: ") + error);
        });
    });
}

void HyprlandClient::_read_events()
{
    _event_buffer.append(_events.read_all());
    if (_event_buffer.size() > kMaxEventBuffer)
        _event_buffer.clear(); // a line this long is no event of Hyprland's
    qsizetype end = 0;
    while ((end = _event_buffer.indexOf('\n')) >= 0) {
        const QByteArray line = _event_buffer.left(end);
        _event_buffer.remove(0, end + 1);
        if (compositor_ipc::hyprland::is_reload(line))
            _apply(false);
        else if (line.startsWith("openwindow>>") && !_mapped)
            _apply(true);
        else if (line.startsWith("closewindow>>"))
            _mapped = false; // hidden from the tray: shown again as a new window
    }
}

// ---- Wayfire ------------------------------------------------------------------

WayfireClient::WayfireClient(const QString &socket)
    : CompositorClient(compositor_ipc::Kind::Wayfire)
{
    namespace wayfire = compositor_ipc::wayfire;
    _timeout.setSingleShot(true);
    _timeout.setInterval(kAnswerTimeoutMs);
    connect(&_timeout, &QTimer::timeout, this, [this] { fault(QStringLiteral("no answer within 2 s")); });
    connect(&_socket, &LocalStream::ready_read, this, &WayfireClient::_read);
    const auto lost = [this, socket](const QString &reason) {
        fault(QStringLiteral("its socket %1: %2").arg(socket, reason));
        _timeout.stop();
    };
    connect(&_socket, &LocalStream::failed, this, lost);
    connect(&_socket, &LocalStream::closed, this, [lost] { lost(QStringLiteral("Wayfire closed it")); });
    connect(&_socket, &LocalStream::connected, this, [this] {
        _send(wayfire::request("window-rules/events/watch", {{"events", {"view-mapped"}}}),
              [this](const compositor_ipc::Json &answer) {
                  if (const QString error = wayfire::answer_error(answer); !error.isEmpty())
                      fault(QStringLiteral("it refused the view events: ") + error);
              });
        _apply();
    });
    _socket.connect_to(socket);
}

void WayfireClient::place()
{
    _apply();
}

void WayfireClient::_send(const QByteArray &request, std::function<void(const compositor_ipc::Json &)> answer)
{
    if (failed() || !_socket.is_connected())
        return;
    _socket.write(request);
    _waiting.push_back(std::move(answer));
    if (!_timeout.isActive())
        _timeout.start();
}

void WayfireClient::_read()
{
    namespace wayfire = compositor_ipc::wayfire;
    _buffer.append(_socket.read_all());
    QString error;
    while (!failed()) {
        std::optional<compositor_ipc::Json> message = wayfire::take(_buffer, &error);
        if (!error.isEmpty()) {
            fault(error);
            _socket.abort();
            return;
        }
        if (!message)
            return;
        if (message->is_object() && message->contains("event")) {
            if (wayfire::is_mapped_event(*message, own_pid()))
                at_most_every(this, kEventGateMs, [this] { _apply(); });
            continue;
        }
        const auto answer = next_waiting(_waiting, _timeout);
        if (!answer) {
            fault(QStringLiteral("an answer to no request"));
            _socket.abort();
            return;
        }
        (*answer)(*message);
    }
}

void WayfireClient::_apply()
{
    namespace wayfire = compositor_ipc::wayfire;
    if (!wanted().isValid())
        return;
    _send(wayfire::request("window-rules/list-views"), [this](const compositor_ipc::Json &views) {
        const auto view = wayfire::find_pid(views, own_pid());
        if (!view || !wanted().isValid())
            return; // not mapped yet: its view-mapped event comes
        emit placing();
        for (const QByteArray &request : wayfire::place_requests(view->id, wanted())) {
            _send(request, [this](const compositor_ipc::Json &answer) {
                if (const QString error = wayfire::answer_error(answer); !error.isEmpty())
                    fault(QStringLiteral("it did not place the bar: ") + error);
            });
        }
    });
}
