// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "tests/fault/real_bar.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fault {
namespace {

constexpr int kPollMs = 100;
const QString kFaultUser = QStringLiteral("quorvel-fault");

QProcessEnvironment environment_for(const QString &display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (!display.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return env;
}

} // namespace

QByteArray run(const QString &program, const QStringList &arguments, const QString &display, int timeout_ms)
{
    QProcess process;
    process.setProcessEnvironment(environment_for(display));
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(timeout_ms)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return process.readAllStandardOutput();
}

Display::~Display()
{
    for (QProcess *process : {&_openbox, &_xvfb}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished();
        }
    }
}

bool Display::start()
{
    // Xvfb picks a free display and writes its number to the given descriptor.
    _xvfb.setStandardErrorFile(QProcess::nullDevice());
    _xvfb.start(QStringLiteral("Xvfb"),
                {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                 QStringLiteral("0"), QStringLiteral("1280x400x24"), QStringLiteral("-nolisten"),
                 QStringLiteral("tcp")});
    if (!_xvfb.waitForStarted(10'000))
        return false;
    QByteArray number;
    const QDeadlineTimer deadline(15'000);
    while (!number.contains('\n') && !deadline.hasExpired() && _xvfb.state() == QProcess::Running) {
        _xvfb.waitForReadyRead(kPollMs);
        number += _xvfb.readAllStandardOutput();
    }
    if (!number.contains('\n'))
        return false;
    _name = QStringLiteral(":") + QString::fromLatin1(number.trimmed());

    _openbox.setProcessEnvironment(environment_for(_name));
    _openbox.setStandardOutputFile(QProcess::nullDevice());
    _openbox.setStandardErrorFile(QProcess::nullDevice());
    _openbox.start(QStringLiteral("openbox"), {});
    if (!_openbox.waitForStarted(10'000))
        return false;
    const QDeadlineTimer wm_deadline(15'000);
    while (!wm_deadline.hasExpired()) {
        if (run(QStringLiteral("xprop"),
                {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")}, _name)
                .contains("window id"))
            return true;
        QThread::msleep(kPollMs);
    }
    return false;
}

void Display::pause()
{
    ::kill(static_cast<pid_t>(_xvfb.processId()), SIGSTOP);
}

void Display::resume()
{
    ::kill(static_cast<pid_t>(_xvfb.processId()), SIGCONT);
}

std::optional<RunAs> unprivileged_user(QString *why_not)
{
    if (::geteuid() != 0)
        return RunAs{}; // already without privileges: run as ourselves
    if (run(QStringLiteral("setpriv"), {QStringLiteral("--version")}).isEmpty()) {
        *why_not = QStringLiteral("running as root and setpriv is not available to drop privileges");
        return std::nullopt;
    }
    if (::getpwnam(kFaultUser.toLatin1().constData()) == nullptr) {
        QProcess::execute(QStringLiteral("useradd"),
                          {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                           QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"), kFaultUser});
        if (::getpwnam(kFaultUser.toLatin1().constData()) == nullptr) {
            *why_not =
                QStringLiteral("running as root and no user without privileges could be made (useradd)");
            return std::nullopt;
        }
    }
    // A build tree under a private folder (mktemp -d makes 0700 ones) keeps
    // the program and the virtual switch box out of that user's reach.
    const int reachable =
        QProcess::execute(QStringLiteral("setpriv"),
                          {QStringLiteral("--reuid=") + kFaultUser, QStringLiteral("--regid=") + kFaultUser,
                           QStringLiteral("--clear-groups"), QStringLiteral("--"), QStringLiteral("sh"),
                           QStringLiteral("-c"), QStringLiteral("test -x \"$0\" && test -r \"$1\""),
                           QStringLiteral(QO_PROGRAM), QStringLiteral(QO_SWITCH_BOX_LIBRARY)});
    if (reachable != 0) {
        *why_not = QStringLiteral("the build tree is not readable by a user without privileges (%1)")
                       .arg(QStringLiteral(QO_PROGRAM));
        return std::nullopt;
    }
    return RunAs{kFaultUser};
}

Bar::Bar(const Display &display, QString folder, std::optional<RunAs> as)
    : _display(display)
    , _folder(std::move(folder))
    , _as(std::move(as))
    , _pipe(_folder + QStringLiteral("/switch-box"))
{
    // A write to the pipe after the box was unplugged must not end the test.
    std::signal(SIGPIPE, SIG_IGN);
}

Bar::~Bar()
{
    if (_pipe_fd >= 0)
        ::close(_pipe_fd);
    if (running()) {
        _process.kill();
        _process.waitForFinished();
    }
    QFile::remove(_pipe);
}

void Bar::start(bool plugged)
{
    QFile::remove(_pipe);
    if (plugged) {
        ::mkfifo(QFile::encodeName(_pipe).constData(), 0600);
        ::chmod(QFile::encodeName(_pipe).constData(), 0666);
    }
    QProcessEnvironment env = environment_for(_display.name());
    env.insert(QStringLiteral("QUORVEL_SWITCH_BOX"), _pipe);
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(QO_SWITCH_BOX_LIBRARY));
    QString program = QStringLiteral(QO_PROGRAM);
    QStringList arguments;
    if (_as && !_as->user.isEmpty()) {
        const passwd *user = ::getpwnam(_as->user.toLatin1().constData());
        if (user != nullptr)
            ::chown(QFile::encodeName(_folder).constData(), user->pw_uid, user->pw_gid);
        env.insert(QStringLiteral("HOME"), _folder);
        arguments = {QStringLiteral("--reuid=") + _as->user, QStringLiteral("--regid=") + _as->user,
                     QStringLiteral("--clear-groups"), QStringLiteral("--"), program};
        program = QStringLiteral("setpriv");
    }
    _process.setProcessEnvironment(env);
    _process.setWorkingDirectory(_folder);
    _process.start(program, arguments);
}

bool Bar::wait_for_window(int timeout_ms)
{
    const QDeadlineTimer deadline(timeout_ms);
    while (!deadline.hasExpired() && running()) {
        const QByteArray found = run(QStringLiteral("xdotool"),
                                     {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                      QStringLiteral("--name"), QStringLiteral("^QuorvelOlvane$")},
                                     _display.name());
        if (!found.trimmed().isEmpty()) {
            _window = QString::fromLatin1(found.trimmed().split('\n').first());
            const QByteArray shell = run(
                QStringLiteral("xdotool"),
                {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), _window}, _display.name());
            int x = -1;
            int y = -1;
            int w = 0;
            int h = 0;
            for (const QByteArray &line : shell.split('\n')) {
                const QList<QByteArray> pair = line.split('=');
                if (pair.size() != 2)
                    continue;
                if (pair[0] == "X")
                    x = pair[1].toInt();
                else if (pair[0] == "Y")
                    y = pair[1].toInt();
                else if (pair[0] == "WIDTH")
                    w = pair[1].toInt();
                else if (pair[0] == "HEIGHT")
                    h = pair[1].toInt();
            }
            if (x >= 0 && y >= 0 && w > 8 && h > 8) {
                _geometry = QRect(x, y, w, h);
                return true;
            }
        }
        QThread::msleep(kPollMs);
    }
    return false;
}

std::optional<int> Bar::wait_for_exit(int timeout_ms)
{
    if (!_process.waitForFinished(timeout_ms) || _process.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return _process.exitCode();
}

bool Bar::send(const QByteArray &lines)
{
    const QDeadlineTimer deadline(15'000);
    while (_pipe_fd < 0) {
        // The open succeeds once the program's reader has opened its end.
        _pipe_fd = ::open(QFile::encodeName(_pipe).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (_pipe_fd >= 0)
            break;
        if (errno != ENXIO || deadline.hasExpired() || !running())
            return false;
        QThread::msleep(kPollMs / 10);
    }
    qsizetype done = 0;
    while (done < lines.size()) {
        const ssize_t n =
            ::write(_pipe_fd, lines.constData() + done, static_cast<size_t>(lines.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN && !deadline.hasExpired()) {
            QThread::msleep(kPollMs / 10);
        } else {
            return false;
        }
    }
    return true;
}

QImage Bar::screenshot()
{
    const QString crop = QStringLiteral("%1x%2+%3+%4")
                             .arg(_geometry.width())
                             .arg(_geometry.height())
                             .arg(_geometry.x())
                             .arg(_geometry.y());
    return QImage::fromData(run(QStringLiteral("import"),
                                {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
                                 crop, QStringLiteral("+repage"), QStringLiteral("png:-")},
                                _display.name()));
}

namespace {

QPoint area_centre(const QSize &window, int area)
{
    // The grid fills the window inside a 2-pixel margin; two rows of four.
    constexpr int kMargin = 2;
    const double cell_w = (window.width() - 2 * kMargin) / 4.0;
    const double cell_h = (window.height() - 2 * kMargin) / 2.0;
    const int row = area / 4;
    const int column = area % 4;
    return {kMargin + static_cast<int>((column + 0.5) * cell_w),
            kMargin + static_cast<int>((row + 0.5) * cell_h)};
}

bool close_to(const QColor &a, const QColor &b)
{
    constexpr int kTolerance = 3;
    return std::abs(a.red() - b.red()) <= kTolerance && std::abs(a.green() - b.green()) <= kTolerance
           && std::abs(a.blue() - b.blue()) <= kTolerance;
}

} // namespace

QColor Bar::area_color(int area)
{
    const QImage image = screenshot();
    if (image.isNull())
        return {};
    return image.pixelColor(area_centre(image.size(), area));
}

bool Bar::wait_for_colors(const QList<QPair<int, QColor>> &expected, int timeout_ms)
{
    const QDeadlineTimer deadline(timeout_ms);
    while (!deadline.hasExpired()) {
        const QImage image = screenshot();
        bool all = !image.isNull();
        for (const auto &[area, color] : expected) {
            if (all && !close_to(image.pixelColor(area_centre(image.size(), area)), color))
                all = false;
        }
        if (all)
            return true;
        QThread::msleep(kPollMs);
    }
    return false;
}

void Bar::pause()
{
    ::kill(static_cast<pid_t>(_process.processId()), SIGSTOP);
}

void Bar::resume()
{
    ::kill(static_cast<pid_t>(_process.processId()), SIGCONT);
}

bool Bar::wait_for_mapped(const QByteArray &part, int timeout_ms)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(_process.processId()));
    const QDeadlineTimer deadline(timeout_ms);
    while (!deadline.hasExpired() && running()) {
        if (maps.open(QIODevice::ReadOnly)) {
            const bool mapped = maps.readAll().contains(part);
            maps.close();
            if (mapped)
                return true;
        }
        QThread::usleep(200);
    }
    return false;
}

void Bar::send_signal(int signal)
{
    ::kill(static_cast<pid_t>(_process.processId()), signal);
}

void Bar::press_escape()
{
    run(QStringLiteral("xdotool"),
        {QStringLiteral("windowactivate"), QStringLiteral("--sync"), _window, QStringLiteral("key"),
         QStringLiteral("--clearmodifiers"), QStringLiteral("Escape")},
        _display.name());
}

QByteArray Bar::standard_output()
{
    _out += _process.readAllStandardOutput();
    return _out;
}

QByteArray Bar::standard_error()
{
    _err += _process.readAllStandardError();
    return _err;
}

} // namespace fault
