// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/switch_commands.h"
#include "output_capture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

// Real programs started by the real runner: small shell scripts written here
// that record how they were started.
class TestSwitchCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void argumentsAndEnvironmentArriveIntact_data();
    void argumentsAndEnvironmentArriveIntact();
    void failuresGiveOneLineAndOutputIsDiscarded_data();
    void failuresGiveOneLineAndOutputIsDiscarded();
    void slowCommandIsNotStartedTwice();
    void closingKillsAndReapsRunningCommands();
    void closingEndsWhatCommandsStartedInTheBackground();
    void commandGetsNoDescriptorOfTheBar();
    void switchWithoutCommandStartsNothing();

private:
    void write_script(const QString &name, const QByteArray &body, bool executable = true) const;
    QString record_path(const QString &name) const
    {
        return m_dir.filePath(QStringLiteral("record/") + name);
    }
    QStringList started_pids() const;
    static SwitchEvent event(int switch_no, bool on, int box = 0, const QString &name = {});

    QTemporaryDir m_dir; // the config folder: scripts, and what they record under record/
};

namespace {

constexpr int kSwitch = 3;
constexpr int kEndMs = 10000; // only a bound on waiting for a script; nothing here is timed

QByteArray read_all(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestSwitchCommands::write_script(const QString &name, const QByteArray &body, bool executable) const
{
    QFile file(m_dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write("#!/bin/sh\n" + body + "\n") > 0);
    file.close();
    if (executable)
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
}

QStringList TestSwitchCommands::started_pids() const
{
    return QString::fromUtf8(read_all(record_path(QStringLiteral("started"))))
        .split(u'\n', Qt::SkipEmptyParts);
}

SwitchEvent TestSwitchCommands::event(int switch_no, bool on, int box, const QString &name)
{
    SwitchEvent event;
    event.switch_no = switch_no;
    event.on = on;
    event.box = box;
    event.box_name = name;
    event.box_label = name.isEmpty() ? QString() : QStringLiteral("box %1 (%2)").arg(box + 1).arg(name);
    return event;
}

void TestSwitchCommands::initTestCase()
{
#ifndef Q_OS_UNIX
    QSKIP("the recording programs are POSIX shell scripts");
#endif
    QVERIFY(m_dir.isValid());
    // Each records its working folder, the switch variables, one variable
    // changed after the bar started and its arguments, each ended by a NUL.
    const QByteArray record =
        R"sh(out="$QO_TEST_RECORD/record"
printf '%s\0' "$(pwd -P)" "$QO_SWITCH" "$QO_STATE" "$QO_BOX" "${QO_BOX_NAME-<unset>}" "$QO_TEST_SEEN" "$@" > "$out.tmp"
mv "$out.tmp" "$out")sh";
    write_script(QStringLiteral("record.sh"), record);
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("bin")));
    write_script(QStringLiteral("bin/qo-test-record"), record);
    // Says it started, then waits for the test's word.
    write_script(QStringLiteral("slow.sh"), R"(echo "$$" >> "$QO_TEST_RECORD/started"
while [ ! -e "$QO_TEST_RECORD/go" ]; do sleep 0.02; done)");

    qputenv("QO_TEST_RECORD", QFile::encodeName(m_dir.filePath(QStringLiteral("record"))));
    qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("bin"))) + ':' + qgetenv("PATH"));
    // Not the bar's to hand on: a command gets only its own box's name.
    qputenv("QO_BOX_NAME", "inherited");
    qputenv("QO_TEST_SEEN", "at start");
    SwitchCommands::keep_start_environment();
    // As the bar changes its own environment for the toolkit after start.
    qputenv("QO_TEST_SEEN", "changed later");
}

void TestSwitchCommands::init()
{
    QDir record(m_dir.filePath(QStringLiteral("record")));
    QVERIFY(!record.exists() || record.removeRecursively());
    QVERIFY(record.mkpath(QStringLiteral(".")));
}

void TestSwitchCommands::argumentsAndEnvironmentArriveIntact_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("box_name");
    QTest::addColumn<QStringList>("environment"); // QO_SWITCH, QO_STATE, QO_BOX, QO_BOX_NAME

    const QStringList press{"3", "on", "1", "<unset>"};
    QTest::addRow("spaces and empty arguments")
        << "./record.sh" << QStringList{"scene", "switch", "Live Show", " lead", "trail ", ""} << true << 0
        << QString() << press;
    QTest::addRow("quotes and backslashes")
        << "./record.sh" << QStringList{"\"double\"", "'single'", "it's", "a\\b", "\\", "\"unbalanced"}
        << true << 0 << QString() << press;
    QTest::addRow("dollar, backticks and shell operators")
        << "./record.sh"
        << QStringList{"$HOME", "$(id)", "`id`", "${QO_SWITCH}", "*", "~", ";", "&&", "|", ">written", "#"}
        << true << 0 << QString() << press;
    QTest::addRow("CJK and emoji") << "./record.sh" << QStringList{"録画開始", "切り替え 画面", "😀"} << true
                                   << 0 << QString() << press;
    QTest::addRow("line break in an argument")
        << "./record.sh" << QStringList{"two\nlines", "tab\there"} << true << 0 << QString() << press;
    QTest::addRow("release on a named second box")
        << "./record.sh" << QStringList{"x"} << false << 1 << "left pedal"
        << QStringList{"3", "off", "2", "left pedal"};
    QTest::addRow("bare name found on PATH")
        << "qo-test-record" << QStringList{"y"} << true << 0 << QString() << press;
    QTest::addRow("absolute path") << m_dir.filePath(QStringLiteral("record.sh")) << QStringList{} << true
                                   << 0 << QString() << press;
}

void TestSwitchCommands::argumentsAndEnvironmentArriveIntact()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, on);
    QFETCH(int, box);
    QFETCH(QString, box_name);
    QFETCH(QStringList, environment);

    SwitchCommands commands;
    SwitchCommand command;
    (on ? command.on : command.off) = QStringList{program} + arguments;
    commands.set_commands({{kSwitch, command}}, m_dir.path());
    const OutputCapture output;
    commands.run(event(kSwitch, on, box, box_name));
    QTRY_VERIFY_WITH_TIMEOUT(!commands.running(box, kSwitch, on), kEndMs);

    const QByteArray record = read_all(record_path(QStringLiteral("record")));
    QVERIFY2(record.endsWith('\0'), record.constData());
    const QStringList expected = QStringList{QFileInfo(m_dir.path()).canonicalFilePath()} + environment
                                 + QStringList{"at start"} + arguments;
    QCOMPARE(QString::fromUtf8(record.chopped(1)).split(QChar(0)), expected);
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("written"))));
    QCOMPARE(output.lines(), QStringList());
}

void TestSwitchCommands::failuresGiveOneLineAndOutputIsDiscarded_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("script"); // written to `program` unless empty
    QTest::addColumn<QString>("line");      // the one line expected; none when empty

    const QByteArray noise = "echo noise; echo noise >&2\n";
    QTest::addRow("success says nothing") << "./ok.sh" << noise + "exit 0" << QString();
    QTest::addRow("non-zero exit") << "./fails.sh" << noise + "exit 3"
                                   << R"([commands] switch 3 on: "./fails.sh" exited with status 3)";
    QTest::addRow("killed by a signal")
        << "./killed.sh" << noise + "kill -KILL $$"
        << R"([commands] switch 3 on: "./killed.sh" ended abnormally (killed by a signal or crashed))";
    QTest::addRow("missing program") << "./missing.sh" << QByteArray()
                                     << R"([commands] switch 3 on: cannot start "./missing.sh": )";
    QTest::addRow("bare name not on PATH")
        << "qo-no-such-program" << QByteArray()
        << R"([commands] switch 3 on: cannot start "qo-no-such-program": )";
    QTest::addRow("control characters in the name are escaped")
        << "./no\nsuch\x1b[2J" << QByteArray()
        << R"([commands] switch 3 on: cannot start "./no\nsuch\u001b[2J": )";
}

void TestSwitchCommands::failuresGiveOneLineAndOutputIsDiscarded()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, script);
    QFETCH(QString, line);
    if (!script.isEmpty())
        write_script(program, script);

    SwitchCommands commands;
    commands.set_commands({{kSwitch, SwitchCommand{{program}, {}}}}, m_dir.path());
    const OutputCapture output;
    commands.run(event(kSwitch, true));
    QTRY_VERIFY_WITH_TIMEOUT(!commands.running(0, kSwitch, true), kEndMs);

    const QStringList lines = output.lines();
    QVERIFY2(!output.text().contains(QStringLiteral("noise")), qPrintable(output.text()));
    if (line.isEmpty()) {
        QCOMPARE(lines, QStringList());
    } else {
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(line), qPrintable(lines.first()));
    }
}

void TestSwitchCommands::slowCommandIsNotStartedTwice()
{
    SwitchCommands commands;
    commands.set_commands({{kSwitch, SwitchCommand{{"./slow.sh"}, {"./slow.sh"}}}}, m_dir.path());
    const OutputCapture output;
    commands.run(event(kSwitch, true));
    QTRY_COMPARE_WITH_TIMEOUT(started_pids().size(), 1, kEndMs);

    // Pressed again while its command still runs: skipped, with one line.
    commands.run(event(kSwitch, true));
    QCOMPARE(output.lines(), QStringList{"[commands] switch 3 on: still running; this press is skipped"});
    // The release has a command of its own, which is started.
    commands.run(event(kSwitch, false));
    QTRY_COMPARE_WITH_TIMEOUT(started_pids().size(), 2, kEndMs);
    // The same switch of another box is another switch.
    commands.run(event(kSwitch, true, 1, QStringLiteral("left pedal")));
    QTRY_COMPARE_WITH_TIMEOUT(started_pids().size(), 3, kEndMs);

    QFile go(record_path(QStringLiteral("go")));
    QVERIFY(go.open(QIODevice::WriteOnly));
    go.close();
    QTRY_VERIFY_WITH_TIMEOUT(!commands.running(0, kSwitch, true) && !commands.running(0, kSwitch, false)
                                 && !commands.running(1, kSwitch, true),
                             kEndMs);
    QCOMPARE(started_pids().size(), 3);
    // Once it has ended, the next press starts it again.
    commands.run(event(kSwitch, true));
    QTRY_VERIFY_WITH_TIMEOUT(started_pids().size() == 4 && !commands.running(0, kSwitch, true), kEndMs);
    QCOMPARE(output.lines().size(), 1);
}

void TestSwitchCommands::closingKillsAndReapsRunningCommands()
{
#ifdef Q_OS_UNIX
    auto commands = std::make_unique<SwitchCommands>();
    commands->set_commands({{kSwitch, SwitchCommand{{"./slow.sh"}, {}}}}, m_dir.path());
    const OutputCapture output;
    commands->run(event(kSwitch, true));
    QTRY_COMPARE_WITH_TIMEOUT(started_pids().size(), 1, kEndMs);
    const pid_t pid = started_pids().first().toInt();
    QVERIFY(pid > 0);
    QCOMPARE(::kill(pid, 0), 0);

    commands.reset();
    // Gone and reaped: a zombie would still take the signal.
    QCOMPARE(::kill(pid, 0), -1);
    QCOMPARE(errno, ESRCH);
    // A command the bar ended is no failure worth a line.
    QCOMPARE(output.lines(), QStringList());
#endif
}

void TestSwitchCommands::closingEndsWhatCommandsStartedInTheBackground()
{
#ifdef Q_OS_UNIX
    // As `sh -c "sleep 300 & sleep 301 & wait"`: children of the command's own.
    write_script(QStringLiteral("forks.sh"), R"(sleep 300 &
echo "$!" >> "$QO_TEST_RECORD/started"
sleep 301 &
echo "$!" >> "$QO_TEST_RECORD/started"
wait)");
    auto commands = std::make_unique<SwitchCommands>();
    commands->set_commands({{kSwitch, SwitchCommand{{"./forks.sh"}, {}}}}, m_dir.path());
    commands->run(event(kSwitch, true));
    QTRY_COMPARE_WITH_TIMEOUT(started_pids().size(), 2, kEndMs);
    const QStringList pids = started_pids();
    for (const QString &pid : pids)
        QCOMPARE(::kill(pid.toInt(), 0), 0);

    commands.reset();
    // Reparented once their shell is gone and reaped by whoever adopts them:
    // that may take a moment, a kill that never came would take forever.
    for (const QString &pid : pids)
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid.toInt(), 0) == -1 && errno == ESRCH, kEndMs);
#endif
}

void TestSwitchCommands::commandGetsNoDescriptorOfTheBar()
{
#ifdef Q_OS_UNIX
    // Held as libmosquitto holds the broker's socket: not close-on-exec.
    const QByteArray marker = QFile::encodeName(m_dir.filePath(QStringLiteral("held-open")));
    const int file = ::open(marker.constData(), O_CREAT | O_RDWR, 0600);
    QVERIFY(file >= 0);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(socket >= 0);
    write_script(QStringLiteral("fds.sh"), R"sh(for fd in /proc/$$/fd/*; do
    printf '%s %s\n' "${fd##*/}" "$(readlink "$fd")"
done > "$QO_TEST_RECORD/fds.tmp"
mv "$QO_TEST_RECORD/fds.tmp" "$QO_TEST_RECORD/fds")sh");
    SwitchCommands commands;
    commands.set_commands({{kSwitch, SwitchCommand{{"./fds.sh"}, {}}}}, m_dir.path());
    commands.run(event(kSwitch, true));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record_path(QStringLiteral("fds"))), kEndMs);
    const QByteArray fds = read_all(record_path(QStringLiteral("fds")));
    ::close(file);
    ::close(socket);
    QVERIFY2(!fds.contains(marker), fds.constData());
    QVERIFY2(!fds.contains("socket:"), fds.constData());
    // Its standard ones are there, as they always were.
    QVERIFY2(fds.startsWith("0 /dev/null"), fds.constData());
#endif
}

void TestSwitchCommands::switchWithoutCommandStartsNothing()
{
    SwitchCommands commands;
    // Switch 4 has only a release command; switch 5 none; after a change, switch 3 none either.
    commands.set_commands(
        {{kSwitch, SwitchCommand{{"./slow.sh"}, {}}}, {4, SwitchCommand{{}, {"./slow.sh"}}}}, m_dir.path());
    commands.set_commands({{4, SwitchCommand{{}, {"./slow.sh"}}}}, m_dir.path());
    const OutputCapture output;
    for (const int switch_no : {kSwitch, 5})
        commands.run(event(switch_no, true));
    commands.run(event(4, true));
    QVERIFY(!commands.running(0, kSwitch, true) && !commands.running(0, 5, true)
            && !commands.running(0, 4, true));
    commands.run(event(4, false));
    QVERIFY(commands.running(0, 4, false));
    QTRY_COMPARE_WITH_TIMEOUT(started_pids().size(), 1, kEndMs);
    QCOMPARE(output.lines(), QStringList());
}

QTEST_GUILESS_MAIN(TestSwitchCommands)
#include "test_switch_commands.moc"
