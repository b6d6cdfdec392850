// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/switch_commands.h"

#include "common/diagnostics.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QProcessEnvironment>

#include <algorithm>
#include <optional>
#include <utility>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#if __has_include(<linux/close_range.h>)
#include <linux/close_range.h>
#endif
#endif

namespace {

const QString kPrefix = QStringLiteral("[commands] ");

// Starts what run() prepared. Posted below the priority of a widget's
// repaint request, so the areas a report changed are painted first: forking
// the bar costs a few milliseconds.
const QEvent::Type kStartEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
constexpr int kStartPriority = Qt::LowEventPriority - 1;

std::optional<QProcessEnvironment> &start_environment()
{
    static std::optional<QProcessEnvironment> environment;
    return environment;
}

// "switch 3 on", led by the box where there are several.
QString switch_label(const SwitchEvent &event)
{
    const QString label = QStringLiteral("switch %1 %2")
                              .arg(event.switch_no)
                              .arg(event.on ? QStringLiteral("on") : QStringLiteral("off"));
    return event.box_label.isEmpty() ? label : event.box_label + QStringLiteral(": ") + label;
}

QString quoted(const QString &program)
{
    return u'"' + diagnostics::printable(program) + u'"';
}

#ifdef Q_OS_UNIX
// In the child, between fork and exec: only async-signal-safe calls. Every
// descriptor above 2 is marked close-on-exec rather than closed, so that the
// toolkit's own pipe still reports a failed exec; the broker's socket and
// anything else the bar holds never reach the command.
void prepare_child()
{
    std::signal(SIGPIPE, SIG_DFL);
    // A group of its own, so that the close ends what the command started too.
    ::setpgid(0, 0);
#if defined(SYS_close_range) && defined(CLOSE_RANGE_CLOEXEC)
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
#endif
    rlimit limit{};
    const rlim_t top = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                           ? std::min<rlim_t>(limit.rlim_cur, 1U << 20)
                           : 65536;
    for (int fd = 3; static_cast<rlim_t>(fd) < top; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0)
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}
#endif

} // namespace

SwitchCommands::SwitchCommands(QObject *parent)
    : QObject(parent)
{
}

SwitchCommands::~SwitchCommands()
{
    end_all();
}

void SwitchCommands::keep_start_environment()
{
    start_environment() = QProcessEnvironment::systemEnvironment();
}

void SwitchCommands::set_commands(const QMap<int, SwitchCommand> &commands, const QString &working_folder)
{
    _commands = commands;
    _folder = working_folder;
}

bool SwitchCommands::running(int box, int switch_no, bool on) const
{
    return _running.contains(Key{box, switch_no, on});
}

void SwitchCommands::run(const SwitchEvent &event)
{
    const auto found = _commands.constFind(event.switch_no);
    if (found == _commands.cend())
        return;
    const QStringList &line = event.on ? found->on : found->off;
    if (line.isEmpty())
        return;
    const QString label = switch_label(event);
    const Key key{event.box, event.switch_no, event.on};
    // A slow command and a quick foot would otherwise pile up copies of it.
    if (_running.contains(key)) {
        diagnostics::out(kPrefix + label
                         + QStringLiteral(": still running; this %1 is skipped")
                               .arg(event.on ? QStringLiteral("press") : QStringLiteral("release")));
        return;
    }

    QProcessEnvironment environment = start_environment().value_or(QProcessEnvironment::systemEnvironment());
    environment.insert(QStringLiteral("QO_SWITCH"), QString::number(event.switch_no));
    environment.insert(QStringLiteral("QO_STATE"), event.on ? QStringLiteral("on") : QStringLiteral("off"));
    environment.insert(QStringLiteral("QO_BOX"), QString::number(event.box + 1));
    // Never one inherited from the bar's own environment: only the box's own name.
    environment.remove(QStringLiteral("QO_BOX_NAME"));
    if (!event.box_name.isEmpty())
        environment.insert(QStringLiteral("QO_BOX_NAME"), event.box_name);

    auto *process = new QProcess(this);
    const QString &program = line.first();
    process->setProgram(program);
    process->setArguments(line.mid(1));
    process->setWorkingDirectory(_folder);
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
#ifdef Q_OS_UNIX
    // The bar ignores SIGPIPE for its own lines; a command gets the default
    // back, as from a shell (`yes | head` in a script ends).
    process->setChildProcessModifier(&prepare_child);
#endif
    connect(process, &QProcess::finished, this,
            [this, key, label, program](int code, QProcess::ExitStatus status) {
                _finished(key, label, program, code, status);
            });
    connect(process, &QProcess::errorOccurred, this,
            [this, key, label, program](QProcess::ProcessError error) {
                // A command that started and then crashed is reported by `finished`.
                if (error == QProcess::FailedToStart)
                    _failed_to_start(key, label, program);
            });
    _running.insert(key, process);
    if (_to_start.isEmpty())
        QCoreApplication::postEvent(this, new QEvent(kStartEvent), kStartPriority);
    _to_start.append(process);
}

void SwitchCommands::customEvent(QEvent *event)
{
    if (event->type() != kStartEvent)
        return;
    for (QProcess *process : std::exchange(_to_start, {}))
        process->start();
}

void SwitchCommands::_finished(const Key &key, const QString &label, const QString &program, int code,
                               QProcess::ExitStatus status)
{
    if (status == QProcess::CrashExit)
        diagnostics::out(kPrefix + label + QStringLiteral(": ") + quoted(program)
                         + QStringLiteral(" ended abnormally (killed by a signal or crashed)"));
    else if (code != 0)
        diagnostics::out(kPrefix + label + QStringLiteral(": ") + quoted(program)
                         + QStringLiteral(" exited with status %1").arg(code));
    _forget(key);
}

void SwitchCommands::_failed_to_start(const Key &key, const QString &label, const QString &program)
{
    const QProcess *process = _running.value(key);
    diagnostics::out(kPrefix + label + QStringLiteral(": cannot start ") + quoted(program)
                     + QStringLiteral(": ")
                     + diagnostics::printable(process ? process->errorString() : QString()));
    _forget(key);
}

void SwitchCommands::_forget(const Key &key)
{
    if (QProcess *process = _running.take(key))
        process->deleteLater();
}

// Killed rather than asked: the close must not depend on a command's
// goodwill. The wait is for the system to take a killed process down, which
// reaps it; a process that will not go even so (stuck in the kernel) is let
// go unreaped instead of hanging the close.
void SwitchCommands::end_all()
{
    _to_start.clear(); // among the running below, never started
    const QMap<Key, QProcess *> running = std::exchange(_running, {});
    for (QProcess *process : running) {
        disconnect(process, nullptr, this, nullptr);
#ifdef Q_OS_UNIX
        // The whole group: what the command started in the background too.
        if (const qint64 pid = process->processId(); pid > 0)
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
#endif
        process->kill();
    }
    const QDeadlineTimer deadline(kEndWaitMs);
    for (QProcess *process : running) {
        if (process->state() == QProcess::NotRunning
            || process->waitForFinished(static_cast<int>(deadline.remainingTime())))
            delete process;
        else
            process->setParent(nullptr); // left to the system: deleting it would wait again
    }
}
