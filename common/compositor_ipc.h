// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

// What the bar says to a tiling Wayland compositor and how it reads the
// answers: framing, requests and parsing only, no sockets, so that every
// byte is tested without the compositor (the sockets: compositor_link).
namespace compositor_ipc {

using Json = nlohmann::json;

// The guide page every line about compositors points to.
inline constexpr const char *kGuidePage = "docs/guide/tiling-compositors.md";

enum class Kind {
    None,     // no compositor IPC in the environment: the bar does as it always did
    Sway,     // SWAYSOCK
    Hyprland, // HYPRLAND_INSTANCE_SIGNATURE
    Wayfire,  // WAYFIRE_SOCKET
};

// Which compositor to talk to, read from the environment at start-up.
struct Found
{
    Kind kind = Kind::None;
    QString socket;        // requests
    QString events_socket; // Hyprland only: its event stream
    // A Wayland session whose compositor the bar cannot reach (niri, labwc,
    // river, ...): its name, for the one line at start-up. Empty otherwise.
    QString unreachable;
};

// `env` looks a variable up (empty when unset); `exists` tells whether a
// socket file is there (Hyprland moved its folder between versions).
Found detect(const std::function<QString(const char *)> &env,
             const std::function<bool(const QString &)> &exists);

// The compositor's own name for the lines the bar writes.
QString name(Kind kind);

// Any answer nested deeper than this is refused unread: no compositor's is.
inline constexpr int kMaxDepth = 128;
// Whether the JSON text `bytes` opens more than kMaxDepth arrays and objects
// inside one another (strings skipped): a check of the text, not a parse.
bool too_deep(const QByteArray &bytes);
// The line for an answer refused by size or depth.
QString oversized(qint64 bytes, qint64 limit);
QString nested_too_deep();

// ---- sway (i3-ipc) ---------------------------------------------------------
namespace sway {

inline constexpr std::string_view kMagic = "i3-ipc";
inline constexpr int kMagicSize = static_cast<int>(kMagic.size());
inline constexpr int kHeaderSize = kMagicSize + 8; // magic, payload length, type
// Far beyond any tree of a desktop (a few hundred windows make a few
// hundred KB), far below what the bar could hold: a larger one is refused.
inline constexpr std::uint32_t kMaxPayload = 8U * 1024 * 1024;

inline constexpr std::uint32_t kRunCommand = 0;
inline constexpr std::uint32_t kSubscribe = 2;
inline constexpr std::uint32_t kGetTree = 4;
inline constexpr std::uint32_t kGetVersion = 7;
inline constexpr std::uint32_t kEventBit = 0x80000000U;
inline constexpr std::uint32_t kWorkspaceEvent = kEventBit | 0U;
inline constexpr std::uint32_t kWindowEvent = kEventBit | 3U;

struct Message
{
    std::uint32_t type = 0;
    QByteArray payload;
};

// One framed message: magic, payload length and type (native byte order, as
// the socket is local), payload.
QByteArray frame(std::uint32_t type, const QByteArray &payload = {});

// The first whole message at the front of `buffer`, taken off it; empty when
// more bytes are needed. Bytes that are no message set `error` and leave
// the buffer as it was.
std::optional<Message> take(QByteArray &buffer, QString *error);

// A con of the tree, as the bar needs it.
struct Con
{
    std::int64_t id = 0;
    QRect rect;
    bool floating = false;
    bool sticky = false;
    bool focused = false;
};

// The window of process `pid` in a GET_TREE answer, tiled or floating.
std::optional<Con> find_pid(const Json &tree, std::int64_t pid);

// The window that had the focus before `con`: the next one in the focus
// order of the workspace holding `con`. Empty when there is none.
std::optional<std::int64_t> focus_before(const Json &tree, std::int64_t con);

// The RUN_COMMAND that makes `con` a floating, sticky, borderless window at `geometry`.
QByteArray place_command(std::int64_t con, const QRect &geometry);
QByteArray focus_command(std::int64_t con);
QByteArray subscribe_payload();

// A RUN_COMMAND answer, `[{"success":true}, ...]`: empty when every command
// succeeded, else what sway said (or that the answer was no such list).
QString command_error(const QByteArray &payload);

// An event that says sway re-read its config (`swaymsg reload`), which drops
// what the bar asked for.
bool is_reload(std::uint32_t type, const QByteArray &payload);
// The container of a window event about process `pid`'s window: its con id.
std::optional<std::int64_t> window_event_con(std::uint32_t type, const QByteArray &payload, std::int64_t pid);

} // namespace sway

// ---- Hyprland --------------------------------------------------------------
namespace hyprland {

inline constexpr qint64 kMaxAnswer = qint64{8} * 1024 * 1024;

// Text requests, one per connection, as hyprctl sends them.
inline constexpr const char *kClients = "j/clients";
inline constexpr const char *kVersion = "j/version";

struct Client
{
    QString address; // "0x..."
    QRect rect;
    bool floating = false;
    bool pinned = false;
};

// The window of process `pid` in a `j/clients` answer.
std::optional<Client> find_pid(const QByteArray &clients, std::int64_t pid);
// The window focused before `address` (its "focusHistoryID" one more); empty when none.
QString focus_before(const QByteArray &clients, const QString &address);

// The version in a `j/version` answer ("0.48.1"), as (major, minor); empty when unreadable.
std::optional<std::pair<int, int>> version(const QByteArray &answer);
// Whether the bar knows the dispatchers of that version.
bool handled(std::pair<int, int> version);

// One [[BATCH]] request that floats, pins, moves and sizes `client`, and
// gives the focus back to `refocus` when set. Pinning toggles: a pinned
// window is not pinned again.
QByteArray place_request(const Client &client, const QRect &geometry, const QString &refocus);
// Each reply of a batch is "ok"; empty when all are, else what Hyprland said.
QString batch_error(const QByteArray &answer);

// Whether an event line (`configreloaded>>`) says Hyprland re-read its config.
bool is_reload(const QByteArray &line);

} // namespace hyprland

// ---- Wayfire (its ipc plugin, 0.8 and later) --------------------------------
namespace wayfire {

inline constexpr int kHeaderSize = 4; // payload length, little-endian
inline constexpr std::uint32_t kMaxPayload = 8U * 1024 * 1024;

// A request: `{"method": ..., "data": {...}}` behind its length.
QByteArray request(const char *method, const Json &data = Json::object());
// The first whole JSON message at the front of `buffer`, taken off it.
std::optional<Json> take(QByteArray &buffer, QString *error);

struct View
{
    std::int64_t id = 0;
    QRect rect;
};

// The mapped view of process `pid` in a `window-rules/list-views` answer.
std::optional<View> find_pid(const Json &views, std::int64_t pid);
// The requests that keep the view on every workspace, above the others, at `geometry`.
QList<QByteArray> place_requests(std::int64_t view, const QRect &geometry);
// An answer's error ("error" member), empty for `{"result": "ok"}`.
QString answer_error(const Json &answer);
// Whether an event is a view of process `pid` being mapped.
bool is_mapped_event(const Json &event, std::int64_t pid);

} // namespace wayfire

} // namespace compositor_ipc
