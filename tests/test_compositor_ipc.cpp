// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// What the bar says to sway, Hyprland and Wayfire and how it reads their
// answers, against answers as their documentation and a real sway 1.7 give them.
#include "apps/QuorvelOlvane/features/compositor_link.h"
#include "common/compositor_ipc.h"
#include "output_capture.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdint>
#include <cstring>
#include <optional>

using compositor_ipc::Json;
namespace sway = compositor_ipc::sway;
namespace hyprland = compositor_ipc::hyprland;
namespace wayfire = compositor_ipc::wayfire;

Q_DECLARE_METATYPE(std::optional<std::int64_t>)

using Env = QMap<QString, QString>;

namespace {

// A GET_TREE answer of sway 1.7, shortened: a tiled xmessage (pid 100) and
// the bar (pid 200) floating on workspace 1, the bar focused after xmessage.
const char *const kTree =
    R"({"id": 1, "type": "root", "rect": {"x": 0, "y": 0, "width": 1920, "height": 1080},
  "focus": [3], "floating_nodes": [], "nodes": [
  {"id": 2147483647, "type": "output", "name": "__i3", "focus": [2147483646], "floating_nodes": [], "nodes": [
    {"id": 2147483646, "type": "workspace", "name": "__i3_scratch", "focus": [], "nodes": [], "floating_nodes": []}]},
  {"id": 3, "type": "output", "name": "HEADLESS-1", "focus": [4], "floating_nodes": [], "nodes": [
    {"id": 4, "type": "workspace", "name": "1", "focus": [6, 5], "nodes": [
      {"id": 5, "type": "con", "name": "xmessage", "pid": 100, "focused": false, "sticky": false,
       "rect": {"x": 0, "y": 25, "width": 1920, "height": 1055}, "focus": [], "nodes": [], "floating_nodes": []}],
     "floating_nodes": [
      {"id": 6, "type": "floating_con", "name": "QuorvelOlvane", "pid": 200, "focused": true, "sticky": true,
       "rect": {"x": 0, "y": 1000, "width": 1920, "height": 80}, "focus": [], "nodes": [], "floating_nodes": []}]}]}]})";

// `hyprctl clients -j` as the Hyprland wiki shows it, two clients.
const char *const kClients = R"([{
    "address": "0x55d8d3b6e4a0", "mapped": true, "hidden": false, "at": [10, 50], "size": [940, 1020],
    "workspace": {"id": 1, "name": "1"}, "floating": false, "pseudo": false, "monitor": 0,
    "class": "kitty", "title": "~", "initialClass": "kitty", "initialTitle": "kitty", "pid": 100,
    "xwayland": false, "pinned": false, "fullscreen": 0, "fullscreenClient": 0, "grouped": [],
    "tags": [], "swallowing": "0x0", "focusHistoryID": 1, "inhibitingIdle": false
}, {
    "address": "0x55d8d3c01230", "mapped": true, "hidden": false, "at": [960, 50], "size": [950, 1020],
    "workspace": {"id": 1, "name": "1"}, "floating": false, "pseudo": false, "monitor": 0,
    "class": "QuorvelOlvane", "title": "QuorvelOlvane", "initialClass": "QuorvelOlvane",
    "initialTitle": "QuorvelOlvane", "pid": 200, "xwayland": true, "pinned": false, "fullscreen": 0,
    "fullscreenClient": 0, "grouped": [], "tags": [], "swallowing": "0x0", "focusHistoryID": 0,
    "inhibitingIdle": false
}])";

// `window-rules/list-views` of Wayfire's ipc-rules plugin.
const char *const kViews = R"([
  {"id": 7, "pid": 100, "title": "Terminal", "app-id": "foot", "role": "toplevel", "mapped": true,
   "geometry": {"x": 100, "y": 100, "width": 800, "height": 600}, "output-id": 1},
  {"id": 8, "pid": 200, "title": "", "app-id": "", "role": "desktop-environment", "mapped": true,
   "geometry": {"x": 0, "y": 0, "width": 1920, "height": 30}, "output-id": 1},
  {"id": 9, "pid": 200, "title": "QuorvelOlvane", "app-id": "QuorvelOlvane", "role": "toplevel", "mapped": true,
   "geometry": {"x": 480, "y": 300, "width": 1920, "height": 80}, "output-id": 1}
])";

QByteArray le32(std::uint32_t value)
{
    QByteArray bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(static_cast<char>((value >> shift) & 0xFFU));
    return bytes;
}

} // namespace

// What a socket in SWAYSOCK's place does to the bar.
enum class Fault {
    Nothing,    // no one listens there
    Garbage,    // answers what is no i3-ipc
    HangsUp,    // closes at once
    Silent,     // never answers
    HugeLength, // claims an answer of nearly 4 GiB
    LargeTree,  // claims a tree of 60 MiB, under the frame's old limit
    DeepTree,   // a small tree nested 100,000 levels deep
};
Q_DECLARE_METATYPE(Fault)

class TestCompositorIpc : public QObject
{
    Q_OBJECT

private slots:
    // Each fault ends the client with one line of bounded length; the event
    // loop runs on throughout (nothing waits on the socket).
    void sway_faults_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("says");
        QTest::newRow("nothing listening") << Fault::Nothing << "its socket";
        QTest::newRow("garbage") << Fault::Garbage << "an answer that is no i3-ipc message";
        QTest::newRow("hangs up") << Fault::HangsUp << "its socket";
        QTest::newRow("never answers") << Fault::Silent << "no answer within 2 s";
        QTest::newRow("absurd length") << Fault::HugeLength << "an answer of 4294967280 bytes";
        QTest::newRow("60 MiB tree") << Fault::LargeTree
                                     << "an answer of 62914560 bytes, more than the 8388608 the bar reads";
        QTest::newRow("deep tree") << Fault::DeepTree << "an answer nested deeper than 128 levels";
    }

    void sway_faults()
    {
#ifdef Q_OS_WIN
        QSKIP("tiling compositors and their sockets are Unix-only");
#endif
        QFETCH(Fault, fault);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sway-ipc.sock"));
        QLocalServer server;
        QList<QLocalSocket *> clients;
        if (fault != Fault::Nothing) {
            QVERIFY(server.listen(path));
            connect(&server, &QLocalServer::newConnection, &server, [&] {
                QLocalSocket *client = server.nextPendingConnection();
                clients.append(client);
                switch (fault) {
                case Fault::Garbage:
                    client->write(QByteArray(100000, 'x'));
                    break;
                case Fault::HangsUp:
                    client->disconnectFromServer();
                    break;
                case Fault::HugeLength:
                    client->write(QByteArray("i3-ipc") + le32(0xFFFFFFF0U) + le32(2));
                    break;
                case Fault::LargeTree:
                    client->write(QByteArray("i3-ipc") + le32(60U * 1024 * 1024) + le32(4)
                                  + QByteArray(qsizetype{64} * 1024, '['));
                    break;
                case Fault::DeepTree: {
                    const QByteArray tree = QByteArray(100000, '[') + QByteArray(100000, ']');
                    client->write(QByteArray("i3-ipc") + le32(static_cast<std::uint32_t>(tree.size()))
                                  + le32(4) + tree);
                    break;
                }
                case Fault::Silent:
                case Fault::Nothing:
                    break;
                }
            });
        }
        const OutputCapture out;
        const QString lead = QStringLiteral("QuorvelOlvane: sway: ");
        const auto lines = [&out, &lead] {
            return out.text().split(QLatin1Char('\n')).filter(QRegularExpression(QLatin1Char('^') + lead));
        };
        SwayClient client(path);
        client.set_wanted([] { return QRect(0, 1000, 1920, 80); });
        QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 1, 3 * CompositorClient::kAnswerTimeoutMs);
        QTest::qWait(300); // whatever else the socket does after the fault
        const QStringList said = lines();
        QCOMPARE(said.size(), 1);
        QVERIFY2(said.at(0).contains(says), qPrintable(said.at(0)));
        QVERIFY2(said.at(0).size() < 400, qPrintable(said.at(0)));
        client.place(); // asked again after the fault: nothing more is sent or said
        QTest::qWait(100);
        QCOMPARE(lines().size(), 1);
    }

    // Refused by depth before any parse; brackets in strings are text.
    void too_deep_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("deep");
        const int limit = compositor_ipc::kMaxDepth;
        QTest::newRow("at the limit") << QByteArray(limit, '[') + QByteArray(limit, ']') << false;
        QTest::newRow("one more") << QByteArray(limit + 1, '[') + QByteArray(limit + 1, ']') << true;
        QTest::newRow("objects and arrays mixed")
            << QByteArray("{\"a\":").repeated(limit - 1) + QByteArray("[[]]")
                   + QByteArray("}").repeated(limit - 1)
            << true;
        QTest::newRow("brackets in a string")
            << QByteArray("[\"") + QByteArray(1000, '[') + QByteArray("\\\"{{{\"]") << false;
        QTest::newRow("many siblings")
            << QByteArray("[") + QByteArray("[],").repeated(100000) + "[]]" << false;
    }

    void too_deep()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, deep);
        QCOMPARE(compositor_ipc::too_deep(json), deep);
    }

    // An answer too large or too deep to read ends the client with a line
    // that says so (Hyprland answers and closes, one request a connection).
    void hyprland_faults_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("says");
        QTest::newRow("9 MiB") << QByteArray(qsizetype{9} * 1024 * 1024, 'x')
                               << "an answer of more than 8388608 bytes, the most the bar reads";
        QTest::newRow("100,000 levels")
            << QByteArray(100000, '[') + QByteArray(100000, ']') << "an answer nested deeper than 128 levels";
    }

    void hyprland_faults()
    {
#ifdef Q_OS_WIN
        QSKIP("tiling compositors and their sockets are Unix-only");
#endif
        QFETCH(QByteArray, answer);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral(".socket.sock"));
        QLocalServer server;
        QVERIFY(server.listen(path));
        connect(&server, &QLocalServer::newConnection, &server, [&] {
            QLocalSocket *client = server.nextPendingConnection();
            connect(client, &QLocalSocket::readyRead, client, [client, &answer] {
                client->readAll();
                client->write(answer);
                client->disconnectFromServer();
            });
        });
        const OutputCapture out;
        const auto lines = [&out] {
            return out.text()
                .split(QLatin1Char('\n'))
                .filter(QRegularExpression(QStringLiteral("^QuorvelOlvane: ")));
        };
        HyprlandClient client(path, dir.filePath(QStringLiteral(".socket2.sock")));
        client.set_wanted([] { return QRect(0, 1000, 1920, 80); });
        QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 1, 3 * CompositorClient::kAnswerTimeoutMs);
        const QStringList said = lines();
        QVERIFY2(said.at(0).contains(says), qPrintable(said.at(0)));
        QVERIFY2(said.at(0).size() < 400, qPrintable(said.at(0)));
    }

    // A flood of reload events makes the bar place itself a bounded number
    // of times, not once per event.
    void sway_event_flood_is_gated()
    {
#ifdef Q_OS_WIN
        QSKIP("tiling compositors and their sockets are Unix-only");
#endif
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sway-ipc.sock"));
        QLocalServer server;
        QVERIFY(server.listen(path));
        const QByteArray tree = QByteArray(kTree).replace(
            "\"pid\": 200", "\"pid\": " + QByteArray::number(QCoreApplication::applicationPid()));
        QLocalSocket *bar = nullptr;
        QByteArray pending;
        int commands = 0;
        const auto answer = [&](std::uint32_t type, const QByteArray &payload) {
            bar->write(QByteArray("i3-ipc") + le32(static_cast<std::uint32_t>(payload.size())) + le32(type)
                       + payload);
        };
        connect(&server, &QLocalServer::newConnection, &server, [&] {
            bar = server.nextPendingConnection();
            connect(bar, &QLocalSocket::readyRead, bar, [&] {
                pending += bar->readAll();
                // Every request is answered, in order, as sway does.
                while (pending.size() >= sway::kHeaderSize) {
                    std::uint32_t length = 0;
                    std::uint32_t type = 0;
                    std::memcpy(&length, pending.constData() + sway::kMagicSize, sizeof length);
                    std::memcpy(&type, pending.constData() + sway::kMagicSize + sizeof length, sizeof type);
                    if (pending.size() < sway::kHeaderSize + static_cast<qsizetype>(length))
                        return;
                    pending.remove(0, sway::kHeaderSize + static_cast<qsizetype>(length));
                    if (type == sway::kRunCommand) {
                        ++commands;
                        answer(type, R"([{"success": true}])");
                    } else if (type == sway::kGetTree) {
                        answer(type, tree);
                    } else {
                        answer(type, R"({"success": true})");
                    }
                }
            });
        });
        const OutputCapture out;
        SwayClient client(path);
        client.set_wanted([] { return QRect(0, 1000, 1920, 80); });
        QTRY_VERIFY_WITH_TIMEOUT(commands > 0, 3 * CompositorClient::kAnswerTimeoutMs);
        QTest::qWait(500); // the first placement and its checks settle
        const int settled = commands;
        QByteArray flood;
        for (int i = 0; i < 2000; ++i)
            flood += QByteArray("i3-ipc") + le32(19) + le32(sway::kWorkspaceEvent) + R"({"change":"reload"})";
        bar->write(flood);
        QTest::qWait(500);
        // One placement at once and one per 100 ms after: a handful, however many events.
        QVERIFY2(commands - settled <= 20, qPrintable(QString::number(commands - settled)));
        QVERIFY2(commands > settled, "the reload was not followed at all");
    }

    // The same for Wayfire: a flood of view-mapped events for the bar's own
    // pid asks for the views a handful of times, not once per event.
    void wayfire_event_flood_is_gated()
    {
#ifdef Q_OS_WIN
        QSKIP("tiling compositors and their sockets are Unix-only");
#endif
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("wayfire.sock"));
        QLocalServer server;
        QVERIFY(server.listen(path));
        QLocalSocket *bar = nullptr;
        QByteArray pending;
        int lists = 0;
        const auto send = [&](const QByteArray &json) {
            bar->write(le32(static_cast<std::uint32_t>(json.size())) + json);
        };
        connect(&server, &QLocalServer::newConnection, &server, [&] {
            bar = server.nextPendingConnection();
            connect(bar, &QLocalSocket::readyRead, bar, [&] {
                pending += bar->readAll();
                while (pending.size() >= wayfire::kHeaderSize) {
                    std::uint32_t length = 0;
                    for (int i = 0; i < wayfire::kHeaderSize; ++i)
                        length |= static_cast<std::uint32_t>(static_cast<unsigned char>(pending.at(i)))
                                  << (8 * i);
                    if (pending.size() < wayfire::kHeaderSize + static_cast<qsizetype>(length))
                        return;
                    const QByteArray request = pending.mid(wayfire::kHeaderSize, length);
                    pending.remove(0, wayfire::kHeaderSize + static_cast<qsizetype>(length));
                    // No view of the bar's yet: nothing to place, only the look.
                    if (request.contains("window-rules/list-views")) {
                        ++lists;
                        send("[]");
                    } else {
                        send(R"({"result": "ok"})");
                    }
                }
            });
        });
        const OutputCapture out;
        WayfireClient client(path);
        client.set_wanted([] { return QRect(0, 1000, 1920, 80); });
        QTRY_VERIFY_WITH_TIMEOUT(lists > 0, 3 * CompositorClient::kAnswerTimeoutMs);
        QTest::qWait(300);
        const int settled = lists;
        const QByteArray event = R"({"event": "view-mapped", "view": {"id": 9, "pid": )"
                                 + QByteArray::number(QCoreApplication::applicationPid()) + "}}";
        QByteArray flood;
        for (int i = 0; i < 2000; ++i)
            flood += le32(static_cast<std::uint32_t>(event.size())) + event;
        bar->write(flood);
        QTest::qWait(500);
        QVERIFY2(lists - settled <= 20, qPrintable(QString::number(lists - settled)));
        QVERIFY2(lists > settled, "the mapped view was not looked for at all");
    }

    void detect_data()
    {
        QTest::addColumn<Env>("env");
        QTest::addColumn<QStringList>("sockets"); // files that exist
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("socket");
        QTest::addColumn<QString>("unreachable");
        const int none = static_cast<int>(compositor_ipc::Kind::None);
        QTest::newRow("X11 session: as today") << Env{{"DISPLAY", ":0"}} << QStringList{} << none << ""
                                               << "";
        QTest::newRow("GNOME on Wayland: as today")
            << Env{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}} << QStringList{}
            << none << ""
            << "";
        QTest::newRow("sway") << Env{{"SWAYSOCK", "/run/user/1000/sway-ipc.sock"},
                                     {"WAYLAND_DISPLAY", "wayland-1"}}
                              << QStringList{} << static_cast<int>(compositor_ipc::Kind::Sway)
                              << "/run/user/1000/sway-ipc.sock"
                              << "";
        QTest::newRow("Hyprland 0.40 and later")
            << Env{{"HYPRLAND_INSTANCE_SIGNATURE", "abc_1"}, {"XDG_RUNTIME_DIR", "/run/user/1000"}}
            << QStringList{"/run/user/1000/hypr/abc_1/.socket.sock"}
            << static_cast<int>(compositor_ipc::Kind::Hyprland) << "/run/user/1000/hypr/abc_1/.socket.sock"
            << "";
        QTest::newRow("Hyprland before 0.40")
            << Env{{"HYPRLAND_INSTANCE_SIGNATURE", "abc_1"}, {"XDG_RUNTIME_DIR", "/run/user/1000"}}
            << QStringList{"/tmp/hypr/abc_1"} << static_cast<int>(compositor_ipc::Kind::Hyprland)
            << "/tmp/hypr/abc_1/.socket.sock"
            << "";
        QTest::newRow("Wayfire with ipc")
            << Env{{"WAYFIRE_SOCKET", "/tmp/wayfire-wayland-1.socket"}} << QStringList{}
            << static_cast<int>(compositor_ipc::Kind::Wayfire) << "/tmp/wayfire-wayland-1.socket"
            << "";
        QTest::newRow("niri: no IPC of ours")
            << Env{{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_CURRENT_DESKTOP", "niri"}} << QStringList{} << none
            << ""
            << "niri";
        QTest::newRow("sway in a sandbox, no SWAYSOCK")
            << Env{{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "sway"}} << QStringList{} << none
            << ""
            << "sway";
        QTest::newRow("Wayfire 0.7: no ipc plugin")
            << Env{{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_CURRENT_DESKTOP", "Wayfire"}} << QStringList{}
            << none << ""
            << "Wayfire";
    }

    void detect()
    {
        QFETCH(Env, env);
        QFETCH(QStringList, sockets);
        QFETCH(int, kind);
        QFETCH(QString, socket);
        QFETCH(QString, unreachable);
        const compositor_ipc::Found found =
            compositor_ipc::detect([&env](const char *name) { return env.value(QString::fromLatin1(name)); },
                                   [&sockets](const QString &path) { return sockets.contains(path); });
        QCOMPARE(static_cast<int>(found.kind), kind);
        QCOMPARE(found.socket, socket);
        QCOMPARE(found.unreachable, unreachable);
    }

    // Framing: the sway-ipc(7) example, and what a stream may hold.
    void sway_take_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("garbage");
        QTest::addColumn<int>("left"); // bytes still in the buffer
        const QByteArray exit = QByteArray::fromHex("69332d69706304000000000000006578 6974");
        QTest::newRow("one whole message") << exit << 1 << false << 0;
        QTest::newRow("header cut short") << exit.left(9) << 0 << false << 9;
        QTest::newRow("payload cut short") << exit.left(16) << 0 << false << 16;
        QTest::newRow("two at once, a third begun") << exit + exit + exit.left(3) << 2 << false << 3;
        QTest::newRow("not i3-ipc") << QByteArray("HTTP/1.1 400 Bad Request\r\n") << 0 << true << 26;
        QTest::newRow("wrong magic, short") << QByteArray("i3-x") << 0 << true << 4;
        QTest::newRow("absurd length")
            << QByteArray("i3-ipc") + le32(0xFFFFFFF0U) + le32(0) << 0 << true << 14;
    }

    void sway_take()
    {
        QFETCH(QByteArray, stream);
        QFETCH(int, messages);
        QFETCH(bool, garbage);
        QFETCH(int, left);
        QString error;
        int taken = 0;
        while (const auto message = sway::take(stream, &error)) {
            QCOMPARE(message->type, sway::kRunCommand);
            QCOMPARE(message->payload, QByteArray("exit"));
            ++taken;
        }
        QCOMPARE(taken, messages);
        QCOMPARE(!error.isEmpty(), garbage);
        QCOMPARE(stream.size(), left);
    }

    void sway_frame()
    {
        QCOMPARE(sway::frame(sway::kRunCommand, "exit"),
                 QByteArray::fromHex("69332d697063040000000000000065786974"));
        QCOMPARE(sway::frame(sway::kGetTree), QByteArray::fromHex("69332d6970630000000004000000"));
    }

    void sway_tree_data()
    {
        QTest::addColumn<qint64>("pid");
        QTest::addColumn<bool>("found");
        QTest::addColumn<qint64>("con");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<bool>("floating");
        QTest::addColumn<bool>("focused");
        QTest::addColumn<std::optional<std::int64_t>>("focus_before");
        QTest::newRow("the bar, floating") << qint64{200} << true << qint64{6} << QRect(0, 1000, 1920, 80)
                                           << true << true << std::optional<std::int64_t>(5);
        QTest::newRow("a tiled window") << qint64{100} << true << qint64{5} << QRect(0, 25, 1920, 1055)
                                        << false << false << std::optional<std::int64_t>(6);
        QTest::newRow("no window of that pid") << qint64{300} << false << qint64{0} << QRect() << false
                                               << false << std::optional<std::int64_t>();
    }

    void sway_tree()
    {
        QFETCH(qint64, pid);
        QFETCH(bool, found);
        QFETCH(qint64, con);
        QFETCH(QRect, rect);
        QFETCH(bool, floating);
        QFETCH(bool, focused);
        QFETCH(std::optional<std::int64_t>, focus_before);
        const Json tree = Json::parse(kTree);
        const auto node = sway::find_pid(tree, pid);
        QCOMPARE(node.has_value(), found);
        if (!node)
            return;
        QCOMPARE(node->id, con);
        QCOMPARE(node->rect, rect);
        QCOMPARE(node->floating, floating);
        QCOMPARE(node->focused, focused);
        QCOMPARE(sway::focus_before(tree, con), focus_before);
    }

    void sway_answers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("error");
        QTest::newRow("all succeeded") << QByteArray(R"([{"success": true}, {"success": true}])") << "";
        QTest::newRow("sway-ipc(7) example") << QByteArray(R"([{"success": true}, {"success": false,
            "parse_error": true, "error": "Invalid/unknown command"}])")
                                             << "Invalid/unknown command";
        QTest::newRow("failed without a reason")
            << QByteArray(R"([{"success": false}])") << "a command failed";
        QTest::newRow("empty list") << QByteArray("[]") << "an answer that is no list of results";
        QTest::newRow("garbage") << QByteArray("\xff\xfe{") << "an answer that is no list of results";
    }

    void sway_answers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, error);
        QCOMPARE(sway::command_error(answer), error);
    }

    void sway_requests_and_events()
    {
        QCOMPARE(
            sway::place_command(6, QRect(0, 960, 1920, 120)),
            QByteArray(
                "[con_id=6] floating enable, sticky enable, border none, resize set width 1920 px height "
                "120 px, move absolute position 0 px 960 px"));
        QCOMPARE(sway::focus_command(5), QByteArray("[con_id=5] focus"));
        QVERIFY(
            sway::is_reload(sway::kWorkspaceEvent, R"({"change": "reload", "current": null, "old": null})"));
        QVERIFY(!sway::is_reload(sway::kWorkspaceEvent, R"({"change": "focus"})"));
        QVERIFY(!sway::is_reload(sway::kWindowEvent, R"({"change": "reload"})"));
        // The window event of sway-ipc(7).
        const QByteArray event = R"({"change": "new", "container": {"id": 12, "type": "con", "pid": 19787,
            "window_properties": {"class": "URxvt"}, "nodes": []}})";
        QCOMPARE(sway::window_event_con(sway::kWindowEvent, event, 19787), std::optional<std::int64_t>(12));
        QCOMPARE(sway::window_event_con(sway::kWindowEvent, event, 1), std::optional<std::int64_t>());
        QCOMPARE(sway::window_event_con(sway::kWorkspaceEvent, event, 19787), std::optional<std::int64_t>());
        QCOMPARE(sway::window_event_con(sway::kWindowEvent, "[1, 2]", 19787), std::optional<std::int64_t>());
    }

    void hyprland_version_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("minor"); // -1: unreadable
        QTest::addColumn<bool>("handled");
        QTest::newRow("0.44 with \"version\"")
            << QByteArray(R"({"branch": "", "commit": "0fb9a045", "version": "0.44.0", "dirty": false,
                "commit_message": "", "commit_date": "2024-11-04", "tag": "", "commits": "5409",
                "buildAquamarine": "0.4.3", "flags": ["debug"]})")
            << 44 << true;
        QTest::newRow("0.40 by its tag")
            << QByteArray(R"({"branch": "", "commit": "1c46", "tag": "v0.40.0"})") << 40 << true;
        QTest::newRow("a build past a tag")
            << QByteArray(R"({"commit": "5f7ad767", "tag": "v0.46.0-27-g5f7ad767"})") << 46 << true;
        QTest::newRow("0.55") << QByteArray(R"({"version": "0.55.1"})") << 55 << true;
        QTest::newRow("0.56: not known") << QByteArray(R"({"version": "0.56.0"})") << 56 << false;
        QTest::newRow("0.26: too old") << QByteArray(R"({"tag": "v0.26.0"})") << 26 << false;
        QTest::newRow("untagged build")
            << QByteArray(R"({"branch": "main", "tag": "", "commits": 58})") << -1 << false;
        QTest::newRow("garbage") << QByteArray("unknown request") << -1 << false;
    }

    void hyprland_version()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, minor);
        QFETCH(bool, handled);
        const auto version = hyprland::version(answer);
        QCOMPARE(version.has_value(), minor >= 0);
        if (version) {
            QCOMPARE(version->second, minor);
            QCOMPARE(hyprland::handled(*version), handled);
        }
    }

    void hyprland_clients()
    {
        const auto bar = hyprland::find_pid(kClients, 200);
        QVERIFY(bar);
        QCOMPARE(bar->address, QStringLiteral("0x55d8d3c01230"));
        QCOMPARE(bar->rect, QRect(960, 50, 950, 1020));
        QVERIFY(!bar->floating);
        QVERIFY(!hyprland::find_pid(kClients, 300));
        QVERIFY(!hyprland::find_pid("ok", 200));
        // The bar has the focus (history 0): it goes back to history 1.
        QCOMPARE(hyprland::focus_before(kClients, bar->address), QStringLiteral("0x55d8d3b6e4a0"));
        QCOMPARE(hyprland::focus_before(kClients, QStringLiteral("0x55d8d3b6e4a0")), QString());
    }

    void hyprland_requests_data()
    {
        QTest::addColumn<bool>("floating");
        QTest::addColumn<bool>("pinned");
        QTest::addColumn<QString>("refocus");
        QTest::addColumn<QByteArray>("request");
        const QByteArray place = "dispatch resizewindowpixel exact 1920 80,address:0xa;"
                                 "dispatch movewindowpixel exact 0 1000,address:0xa";
        QTest::newRow("tiled, just mapped")
            << false << false << "0xb"
            << "[[BATCH]]dispatch setfloating address:0xa;dispatch pin address:0xa;" + place
                   + ";dispatch focuswindow address:0xb";
        // Pinning toggles: asked again, it would unpin the bar.
        QTest::newRow("floating and pinned already") << true << true << ""
                                                     << "[[BATCH]]" + place;
    }

    void hyprland_requests()
    {
        QFETCH(bool, floating);
        QFETCH(bool, pinned);
        QFETCH(QString, refocus);
        QFETCH(QByteArray, request);
        const hyprland::Client client{QStringLiteral("0xa"), QRect(), floating, pinned};
        QCOMPARE(hyprland::place_request(client, QRect(0, 1000, 1920, 80), refocus), request);
    }

    void hyprland_answers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("ok");
        QTest::newRow("batch of oks") << QByteArray("ok\n\nok\n\nok\n\nok") << true;
        QTest::newRow("one failed") << QByteArray("ok\n\nInvalid dispatcher\n\nok") << false;
        QTest::newRow("nothing") << QByteArray("") << false;
    }

    void hyprland_answers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, ok);
        QCOMPARE(hyprland::batch_error(answer).isEmpty(), ok);
        QVERIFY(hyprland::is_reload("configreloaded>>"));
        QVERIFY(!hyprland::is_reload("openwindow>>55d8d3c01230,1,QuorvelOlvane,QuorvelOlvane"));
    }

    void wayfire_framing()
    {
        const QByteArray request = wayfire::request("window-rules/list-views");
        const QByteArray body = R"({"data":{},"method":"window-rules/list-views"})";
        QCOMPARE(request, le32(static_cast<std::uint32_t>(body.size())) + body);

        QByteArray stream =
            le32(16) + R"({"result": "ok"})" + le32(60) + R"({"event": "view-mapped", "view")";
        QString error;
        const auto first = wayfire::take(stream, &error);
        QVERIFY(first);
        QCOMPARE(wayfire::answer_error(*first), QString());
        QVERIFY(!wayfire::take(stream, &error)); // the second is not whole yet
        QVERIFY(error.isEmpty());
        stream = le32(5) + "hello";
        QVERIFY(!wayfire::take(stream, &error));
        QVERIFY(!error.isEmpty());
        error.clear();
        stream = le32(0x7FFFFFFFU);
        QVERIFY(!wayfire::take(stream, &error));
        QVERIFY(!error.isEmpty());
    }

    void wayfire_views()
    {
        const Json views = Json::parse(kViews);
        const auto bar = wayfire::find_pid(views, 200);
        QVERIFY(bar);
        QCOMPARE(bar->id, 9); // the toplevel, not the panel of the same process
        QVERIFY(!wayfire::find_pid(views, 300));
        const QList<QByteArray> requests = wayfire::place_requests(9, QRect(0, 1000, 1920, 80));
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests.at(0).mid(4),
                 QByteArray(R"({"data":{"state":true,"view_id":9},"method":"wm-actions/set-sticky"})"));
        QCOMPARE(requests.at(2).mid(4),
                 QByteArray(R"({"data":{"geometry":{"height":80,"width":1920,"x":0,"y":1000},"id":9},)"
                            R"("method":"window-rules/configure-view"})"));
        QCOMPARE(wayfire::answer_error(Json::parse(R"({"error": "No such method found!"})")),
                 QStringLiteral("No such method found!"));
        QVERIFY(wayfire::is_mapped_event(
            Json::parse(R"({"event": "view-mapped", "view": {"id": 9, "pid": 200}})"), 200));
        QVERIFY(!wayfire::is_mapped_event(
            Json::parse(R"({"event": "view-mapped", "view": {"id": 7, "pid": 100}})"), 200));
        QVERIFY(!wayfire::is_mapped_event(Json::parse("[1]"), 200));
    }
};

QTEST_GUILESS_MAIN(TestCompositorIpc)
#include "test_compositor_ipc.moc"
