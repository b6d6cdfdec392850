// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/autostart.h"

#include "common/diagnostics.h"

#include <QCoreApplication>
#include <QDir>

#ifdef Q_OS_WIN
#include <QSettings>
#else
#include <QProcess>
#endif

namespace autostart {
namespace {

// A Windows command-line argument in quotes: a run of backslashes before the
// closing quote would escape it unless doubled.
QString quoted(const QString &path)
{
    QString text = path;
    text.replace(u'/', u'\\');
    qsizetype trailing = 0;
    while (trailing < text.size() && text.at(text.size() - 1 - trailing) == u'\\')
        ++trailing;
    return u'"' + text + QString(trailing, u'\\') + u'"';
}

#ifdef Q_OS_WIN
const QString kRunKey =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString kValueName = QStringLiteral("QuorvelOlvane");

QString this_command_line()
{
    return command_line(QCoreApplication::applicationFilePath(), QDir::currentPath());
}
#else
QString launcher()
{
    return qEnvironmentVariable(kLauncherVariable);
}

// Runs the launcher's --autostart with `argument`; its output, or a null
// string where it could not run or failed.
QString run_launcher(const QString &argument)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(launcher(), {QString::fromLatin1(kAutostartOption), argument});
    if (!process.waitForFinished() || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        diagnostics::err(QStringLiteral("QuorvelOlvane: cannot run ") + diagnostics::printable(launcher())
                         + QStringLiteral(" --autostart ") + argument + QStringLiteral(": ")
                         + (process.error() == QProcess::UnknownError
                                ? QStringLiteral("exit status %1").arg(process.exitCode())
                                : process.errorString()));
        return {};
    }
    const QString output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return output.isNull() ? QStringLiteral("") : output;
}
#endif

} // namespace

QString command_line(const QString &program, const QString &folder)
{
    return quoted(program) + u' ' + QString::fromLatin1(kFolderOption) + u' ' + quoted(folder);
}

#ifdef Q_OS_WIN

bool available()
{
    return true;
}

bool enabled()
{
    const QSettings run(kRunKey, QSettings::NativeFormat);
    return run.value(kValueName).toString() == this_command_line();
}

bool set(bool on)
{
    QSettings run(kRunKey, QSettings::NativeFormat);
    if (on)
        run.setValue(kValueName, this_command_line());
    else
        run.remove(kValueName);
    run.sync();
    if (run.status() == QSettings::NoError)
        return true;
    diagnostics::err(QStringLiteral("QuorvelOlvane: cannot change ") + kRunKey + u'\\' + kValueName);
    return false;
}

#else

bool available()
{
    return !launcher().isEmpty();
}

bool enabled()
{
    return available() && run_launcher(QStringLiteral("status")) == QStringLiteral("on");
}

bool set(bool on)
{
    if (!available()) {
        diagnostics::err(
            QStringLiteral("QuorvelOlvane: start at login is set by the launcher, quorvel-olvane "
                           "--autostart on|off: this bar was not started by it"));
        return false;
    }
    return !run_launcher(on ? QStringLiteral("on") : QStringLiteral("off")).isNull();
}

#endif

} // namespace autostart
