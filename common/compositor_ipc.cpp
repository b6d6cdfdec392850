// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/compositor_ipc.h"

#include <QDir>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstring>

namespace compositor_ipc {

namespace {

// A JSON member as a whole number, when it is one.
std::optional<std::int64_t> integer(const Json &object, const char *key)
{
    if (!object.is_object())
        return std::nullopt;
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer())
        return std::nullopt;
    return found->get<std::int64_t>();
}

bool flag(const Json &object, const char *key)
{
    const auto found = object.find(key);
    return found != object.end() && found->is_boolean() && found->get<bool>();
}

QString text(const Json &object, const char *key)
{
    if (!object.is_object())
        return {};
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? QString::fromStdString(found->get<std::string>())
                                                       : QString();
}

int to_int(std::int64_t value)
{
    constexpr std::int64_t kLimit = 1000000; // far beyond any desktop
    return static_cast<int>(std::clamp(value, -kLimit, kLimit));
}

Json parse(const QByteArray &bytes)
{
    // Braces would make a JSON array of it, not a discarded value.
    if (too_deep(bytes))
        return Json(Json::value_t::discarded); // NOLINT(modernize-return-braced-init-list)
    return Json::parse(bytes.cbegin(), bytes.cend(), nullptr, false);
}

} // namespace

bool too_deep(const QByteArray &bytes)
{
    int depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (const char c : bytes) {
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth)
                return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

QString oversized(qint64 bytes, qint64 limit)
{
    return QStringLiteral("an answer of %1 bytes, more than the %2 the bar reads").arg(bytes).arg(limit);
}

QString nested_too_deep()
{
    return QStringLiteral("an answer nested deeper than %1 levels").arg(kMaxDepth);
}

Found detect(const std::function<QString(const char *)> &env,
             const std::function<bool(const QString &)> &exists)
{
    Found found;
    if (const QString sway = env("SWAYSOCK"); !sway.isEmpty()) {
        found.kind = Kind::Sway;
        found.socket = sway;
        return found;
    }
    if (const QString signature = env("HYPRLAND_INSTANCE_SIGNATURE"); !signature.isEmpty()) {
        // Since 0.40 under $XDG_RUNTIME_DIR/hypr, before that under /tmp/hypr.
        QString folder = env("XDG_RUNTIME_DIR") + QStringLiteral("/hypr/") + signature;
        if (!exists(folder + QStringLiteral("/.socket.sock"))
            && exists(QStringLiteral("/tmp/hypr/") + signature))
            folder = QStringLiteral("/tmp/hypr/") + signature;
        found.kind = Kind::Hyprland;
        found.socket = folder + QStringLiteral("/.socket.sock");
        found.events_socket = folder + QStringLiteral("/.socket2.sock");
        return found;
    }
    if (const QString wayfire = env("WAYFIRE_SOCKET"); !wayfire.isEmpty()) {
        found.kind = Kind::Wayfire;
        found.socket = wayfire;
        return found;
    }
    // A Wayland session of a compositor that tiles or ignores the bar's own
    // geometry, without an IPC the bar speaks. GNOME and KDE keep the bar on top.
    if (env("WAYLAND_DISPLAY").isEmpty() && env("XDG_SESSION_TYPE") != QStringLiteral("wayland"))
        return found;
    static const QStringList kTiling{
        QStringLiteral("sway"), QStringLiteral("Hyprland"), QStringLiteral("Wayfire"),
        QStringLiteral("niri"), QStringLiteral("labwc"),    QStringLiteral("river"),
        QStringLiteral("dwl"),  QStringLiteral("qtile"),    QStringLiteral("cage")};
    for (const QString &desktop : env("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        for (const QString &tiling : kTiling) {
            if (desktop.compare(tiling, Qt::CaseInsensitive) == 0) {
                found.unreachable = tiling;
                return found;
            }
        }
    }
    return found;
}

QString name(Kind kind)
{
    switch (kind) {
    case Kind::Sway:
        return QStringLiteral("sway");
    case Kind::Hyprland:
        return QStringLiteral("Hyprland");
    case Kind::Wayfire:
        return QStringLiteral("Wayfire");
    case Kind::None:
        break;
    }
    return QStringLiteral("none");
}

// ---- sway ------------------------------------------------------------------
namespace sway {

QByteArray frame(std::uint32_t type, const QByteArray &payload)
{
    QByteArray message(kMagic.data(), kMagicSize);
    const auto length = static_cast<std::uint32_t>(payload.size());
    message.append(reinterpret_cast<const char *>(&length), sizeof length); // NOLINT
    message.append(reinterpret_cast<const char *>(&type), sizeof type);     // NOLINT
    message.append(payload);
    return message;
}

std::optional<Message> take(QByteArray &buffer, QString *error)
{
    const auto have = std::min<qsizetype>(buffer.size(), kMagicSize);
    if (std::memcmp(buffer.constData(), kMagic.data(), static_cast<std::size_t>(have)) != 0) {
        *error = QStringLiteral("an answer that is no i3-ipc message");
        return std::nullopt;
    }
    if (buffer.size() < kHeaderSize)
        return std::nullopt;
    std::uint32_t length = 0;
    Message message;
    std::memcpy(&length, buffer.constData() + kMagicSize, sizeof length);
    std::memcpy(&message.type, buffer.constData() + kMagicSize + sizeof length, sizeof message.type);
    if (length > kMaxPayload) {
        *error = oversized(length, kMaxPayload);
        return std::nullopt;
    }
    if (buffer.size() < kHeaderSize + static_cast<qsizetype>(length))
        return std::nullopt;
    message.payload = buffer.mid(kHeaderSize, length);
    if (too_deep(message.payload)) {
        *error = nested_too_deep();
        return std::nullopt;
    }
    buffer.remove(0, kHeaderSize + static_cast<qsizetype>(length));
    return message;
}

namespace {

// The node with `id` under `node`, depth first over tiled and floating children.
const Json *find_node(const Json &node, const std::function<bool(const Json &)> &match, int depth = 0)
{
    constexpr int kMaxDepth = 256; // no real tree is this deep; a hostile one is not walked to the end
    if (!node.is_object() || depth > kMaxDepth)
        return nullptr;
    if (match(node))
        return &node;
    for (const char *children : {"nodes", "floating_nodes"}) {
        const auto list = node.find(children);
        if (list == node.end() || !list->is_array())
            continue;
        for (const Json &child : *list)
            if (const Json *found = find_node(child, match, depth + 1))
                return found;
    }
    return nullptr;
}

const Json *find_id(const Json &tree, std::int64_t id)
{
    return find_node(tree, [id](const Json &node) { return integer(node, "id") == id; });
}

bool has_children(const Json &node)
{
    return std::ranges::any_of(std::array{"nodes", "floating_nodes"}, [&node](const char *children) {
        const auto list = node.find(children);
        return list != node.end() && list->is_array() && !list->empty();
    });
}

} // namespace

std::optional<Con> find_pid(const Json &tree, std::int64_t pid)
{
    const Json *node = find_node(tree, [pid](const Json &n) { return integer(n, "pid") == pid; });
    if (!node)
        return std::nullopt;
    Con con;
    con.id = integer(*node, "id").value_or(0);
    const Json rect = node->value("rect", Json::object());
    con.rect = QRect(to_int(integer(rect, "x").value_or(0)), to_int(integer(rect, "y").value_or(0)),
                     to_int(integer(rect, "width").value_or(0)), to_int(integer(rect, "height").value_or(0)));
    con.floating = text(*node, "type") == QStringLiteral("floating_con");
    con.sticky = flag(*node, "sticky");
    con.focused = flag(*node, "focused");
    return con;
}

std::optional<std::int64_t> focus_before(const Json &tree, std::int64_t con)
{
    const Json *workspace = find_node(tree, [con](const Json &node) {
        return text(node, "type") == QStringLiteral("workspace") && find_id(node, con) != nullptr;
    });
    if (!workspace)
        return std::nullopt;
    const Json *node = workspace;
    // Down the focus order to a window: the first child in each con's "focus" list.
    for (int depth = 0; has_children(*node) && depth < 256; ++depth) {
        const auto focus = node->find("focus");
        if (focus == node->end() || !focus->is_array())
            return std::nullopt;
        const Json *next = nullptr;
        for (const Json &id : *focus) {
            if (!id.is_number_integer())
                continue;
            const Json *child = find_id(*node, id.get<std::int64_t>());
            if (child && child != node && !find_id(*child, con)) {
                next = child;
                break;
            }
        }
        if (!next)
            return std::nullopt;
        node = next;
    }
    if (node == workspace)
        return std::nullopt;
    return integer(*node, "id");
}

QByteArray place_command(std::int64_t con, const QRect &geometry)
{
    return QStringLiteral("[con_id=%1] floating enable, sticky enable, border none, "
                          "resize set width %2 px height %3 px, move absolute position %4 px %5 px")
        .arg(con)
        .arg(geometry.width())
        .arg(geometry.height())
        .arg(geometry.x())
        .arg(geometry.y())
        .toUtf8();
}

QByteArray focus_command(std::int64_t con)
{
    return QStringLiteral("[con_id=%1] focus").arg(con).toUtf8();
}

QByteArray subscribe_payload()
{
    return QByteArrayLiteral(R"(["window","workspace"])");
}

QString command_error(const QByteArray &payload)
{
    const Json answer = parse(payload);
    if (!answer.is_array() || answer.empty())
        return QStringLiteral("an answer that is no list of results");
    for (const Json &result : answer) {
        if (!result.is_object())
            return QStringLiteral("an answer that is no list of results");
        if (!flag(result, "success")) {
            const QString error = text(result, "error");
            return error.isEmpty() ? QStringLiteral("a command failed") : error;
        }
    }
    return {};
}

bool is_reload(std::uint32_t type, const QByteArray &payload)
{
    if (type != kWorkspaceEvent)
        return false;
    const Json event = parse(payload);
    return text(event, "change") == QStringLiteral("reload");
}

std::optional<std::int64_t> window_event_con(std::uint32_t type, const QByteArray &payload, std::int64_t pid)
{
    if (type != kWindowEvent)
        return std::nullopt;
    const Json event = parse(payload);
    if (!event.is_object())
        return std::nullopt;
    const Json container = event.value("container", Json::object());
    if (integer(container, "pid") != pid)
        return std::nullopt;
    return integer(container, "id");
}

} // namespace sway

// ---- Hyprland --------------------------------------------------------------
namespace hyprland {

namespace {

QRect client_rect(const Json &client)
{
    const Json at = client.value("at", Json::array());
    const Json size = client.value("size", Json::array());
    const auto number = [](const Json &list, std::size_t index) {
        return list.is_array() && list.size() > index && list[index].is_number_integer()
                   ? to_int(list[index].get<std::int64_t>())
                   : 0;
    };
    return {number(at, 0), number(at, 1), number(size, 0), number(size, 1)};
}

} // namespace

std::optional<Client> find_pid(const QByteArray &clients, std::int64_t pid)
{
    const Json list = parse(clients);
    if (!list.is_array())
        return std::nullopt;
    for (const Json &entry : list) {
        if (integer(entry, "pid") != pid || text(entry, "address").isEmpty())
            continue;
        if (entry.contains("mapped") && !flag(entry, "mapped"))
            continue;
        return Client{text(entry, "address"), client_rect(entry), flag(entry, "floating"),
                      flag(entry, "pinned")};
    }
    return std::nullopt;
}

QString focus_before(const QByteArray &clients, const QString &address)
{
    const Json list = parse(clients);
    if (!list.is_array())
        return {};
    std::optional<std::int64_t> own;
    for (const Json &entry : list)
        if (text(entry, "address") == address)
            own = integer(entry, "focusHistoryID");
    if (own != 0) // the bar does not have the focus: nothing to give back
        return {};
    for (const Json &entry : list)
        if (integer(entry, "focusHistoryID") == 1)
            return text(entry, "address");
    return {};
}

std::optional<std::pair<int, int>> version(const QByteArray &answer)
{
    const Json object = parse(answer);
    QString number = text(object, "version"); // 0.41 and later
    if (number.isEmpty())
        number = text(object, "tag"); // "v0.40.0" or "v0.46.0-27-g5f7ad767"
    if (number.startsWith(QLatin1Char('v')))
        number.remove(0, 1);
    const QStringList parts = number.split(QLatin1Char('.'));
    if (parts.size() < 2)
        return std::nullopt;
    bool major_ok = false;
    bool minor_ok = false;
    const int major = parts.at(0).toInt(&major_ok);
    const int minor = parts.at(1).toInt(&minor_ok);
    if (!major_ok || !minor_ok)
        return std::nullopt;
    return std::pair{major, minor};
}

bool handled(std::pair<int, int> version)
{
    // setfloating, pin, movewindowpixel/resizewindowpixel exact and focuswindow
    // with "address:" read the same from 0.40 to 0.55; later versions may not.
    return version.first == 0 && version.second >= 40 && version.second <= 55;
}

QByteArray place_request(const Client &client, const QRect &geometry, const QString &refocus)
{
    const QString window = QStringLiteral("address:") + client.address;
    QStringList commands;
    if (!client.floating)
        commands << QStringLiteral("dispatch setfloating ") + window;
    if (!client.pinned)
        commands << QStringLiteral("dispatch pin ") + window;
    commands << QStringLiteral("dispatch resizewindowpixel exact %1 %2,%3")
                    .arg(geometry.width())
                    .arg(geometry.height())
                    .arg(window);
    commands << QStringLiteral("dispatch movewindowpixel exact %1 %2,%3")
                    .arg(geometry.x())
                    .arg(geometry.y())
                    .arg(window);
    if (!refocus.isEmpty())
        commands << QStringLiteral("dispatch focuswindow address:") + refocus;
    return (QStringLiteral("[[BATCH]]") + commands.join(QLatin1Char(';'))).toUtf8();
}

QString batch_error(const QByteArray &answer)
{
    const QList<QByteArray> replies = answer.simplified().split(' ');
    if (answer.trimmed().isEmpty())
        return QStringLiteral("no answer");
    for (const QByteArray &reply : replies)
        if (reply != "ok")
            return QString::fromUtf8(answer.trimmed().left(200));
    return {};
}

bool is_reload(const QByteArray &line)
{
    return line.startsWith("configreloaded>>");
}

} // namespace hyprland

// ---- Wayfire ---------------------------------------------------------------
namespace wayfire {

QByteArray request(const char *method, const Json &data)
{
    const Json message{{"method", method}, {"data", data}};
    const std::string body = message.dump();
    const auto length = static_cast<std::uint32_t>(body.size());
    QByteArray bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(static_cast<char>((length >> shift) & 0xFFU));
    bytes.append(body.data(), static_cast<qsizetype>(body.size()));
    return bytes;
}

std::optional<Json> take(QByteArray &buffer, QString *error)
{
    if (buffer.size() < kHeaderSize)
        return std::nullopt;
    std::uint32_t length = 0;
    for (int i = 0; i < kHeaderSize; ++i)
        length |= static_cast<std::uint32_t>(static_cast<unsigned char>(buffer.at(i))) << (8 * i);
    if (length > kMaxPayload) {
        *error = oversized(length, kMaxPayload);
        return std::nullopt;
    }
    if (buffer.size() < kHeaderSize + static_cast<qsizetype>(length))
        return std::nullopt;
    const QByteArray payload = buffer.mid(kHeaderSize, length);
    if (too_deep(payload)) {
        *error = nested_too_deep();
        return std::nullopt;
    }
    Json message = parse(payload);
    if (message.is_discarded() || (!message.is_object() && !message.is_array())) {
        *error = QStringLiteral("an answer that is no JSON object");
        return std::nullopt;
    }
    buffer.remove(0, kHeaderSize + static_cast<qsizetype>(length));
    return message;
}

std::optional<View> find_pid(const Json &views, std::int64_t pid)
{
    if (!views.is_array())
        return std::nullopt;
    for (const Json &view : views) {
        if (integer(view, "pid") != pid || !flag(view, "mapped")
            || text(view, "role") != QStringLiteral("toplevel"))
            continue;
        const Json geometry = view.value("geometry", Json::object());
        return View{integer(view, "id").value_or(0), QRect(to_int(integer(geometry, "x").value_or(0)),
                                                           to_int(integer(geometry, "y").value_or(0)),
                                                           to_int(integer(geometry, "width").value_or(0)),
                                                           to_int(integer(geometry, "height").value_or(0)))};
    }
    return std::nullopt;
}

QList<QByteArray> place_requests(std::int64_t view, const QRect &geometry)
{
    const Json rect{
        {"x", geometry.x()}, {"y", geometry.y()}, {"width", geometry.width()}, {"height", geometry.height()}};
    return {request("wm-actions/set-sticky", {{"view_id", view}, {"state", true}}),
            request("wm-actions/set-always-on-top", {{"view_id", view}, {"state", true}}),
            request("window-rules/configure-view", {{"id", view}, {"geometry", rect}})};
}

QString answer_error(const Json &answer)
{
    if (!answer.is_object())
        return QStringLiteral("an answer that is no JSON object");
    if (QString error = text(answer, "error"); !error.isEmpty())
        return error;
    if (text(answer, "result") != QStringLiteral("ok"))
        return QStringLiteral("an answer without \"result\": \"ok\"");
    return {};
}

bool is_mapped_event(const Json &event, std::int64_t pid)
{
    return event.is_object() && text(event, "event") == QStringLiteral("view-mapped")
           && integer(event.value("view", Json::object()), "pid") == pid;
}

} // namespace wayfire

} // namespace compositor_ipc
