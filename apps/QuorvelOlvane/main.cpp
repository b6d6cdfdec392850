// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "apps/QuorvelOlvane/app_icon.h"
#include "apps/QuorvelOlvane/app_id.h"
#include "apps/QuorvelOlvane/single_instance.h"
#include "apps/QuorvelOlvane/wire_features.h"
#include "common/autostart.h"
#include "common/bar_config.h"
#include "common/diagnostics.h"
#include "common/switch_commands.h"
#include "common/version.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <span>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Written by the signal handler, read in the event loop.
std::array<int, 2> g_signal_pipe{-1, -1}; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

void on_end_signal(int /*signal*/)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(g_signal_pipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C, a closed terminal) close the bar
// the way the user does: the reader is stopped, the device closed, and the
// program ends with status 0. The handlers come first of all, so that a
// signal sent while the bar starts is never met by the default action; it
// waits in the pipe until the window can be closed.
void catch_end_signals()
{
    if (::pipe2(g_signal_pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals keep their default action
    struct sigaction action
    {};
    action.sa_handler = on_end_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        // Signals that the parent set to be ignored stay ignored (nohup, a
        // shell's background job), as with any program.
        struct sigaction previous
        {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

// Once the window exists, the pipe is read in the event loop. A byte written
// before then is still in the pipe: the notifier reports it as soon as the
// event loop runs.
void close_on_end_signals(QuorvelOlvane &window)
{
    if (g_signal_pipe[0] < 0)
        return;
    auto *notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        std::array<char, 16> bytes{};
        while (::read(g_signal_pipe[0], bytes.data(), bytes.size()) > 0) {
        }
        window.close_and_quit();
    });
}

} // namespace
#endif

namespace {

// The argument after `option` among the program's arguments, or null where there is none.
const char *option_value(std::span<char *const> arguments, const char *option)
{
    for (std::size_t i = 1; i + 1 < arguments.size(); ++i) {
        if (std::strcmp(arguments[i], option) == 0)
            return arguments[i + 1];
    }
    return nullptr;
}

// Why the bar cannot start, on standard error and, where nobody reads that,
// in a message box too; the status to end with.
int cannot_start(const QString &reason, bool errors_unseen)
{
    const QString text = QStringLiteral("QuorvelOlvane: cannot start: ") + reason;
    diagnostics::err(text);
    if (errors_unseen) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("QuorvelOlvane: cannot start"), text);
        // Selectable, so that the user can copy it into a search or a report.
        box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        box.exec();
    }
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // Before the streams are given a place below.
    const bool errors_unseen = diagnostics::errors_unseen();
    qunsetenv(diagnostics::kNoConsoleVariable);
    // Before anything opens a file: closed standard descriptors, broken pipes.
    diagnostics::prepare_standard_streams();
    // --version alone: answered before anything starts, so it needs no display or config.json.
    if (const std::span arguments(argv, static_cast<std::size_t>(argc));
        arguments.size() == 2 && std::strcmp(arguments[1], "--version") == 0) {
        diagnostics::out(QStringLiteral("QuorvelOlvane ") + QString::fromLatin1(build_info::kVersion));
        return 0;
    }
#ifdef Q_OS_UNIX
    // Then at once, before Qt starts or any file is read (the descriptors 0
    // to 2 are open by now, so the pipe cannot take their place).
    catch_end_signals();
#endif

    // Commands started on a switch get the environment the bar was given, not the one below.
    SwitchCommands::keep_start_environment();
    // Every size is in device pixels, whatever the parent environment asked for.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qputenv("QT_SCALE_FACTOR", "1");

    // --autostart on|off: the login entry for this program in the current folder, as the installer sets it.
    if (const char *value =
            option_value(std::span(argv, static_cast<std::size_t>(argc)), autostart::kAutostartOption)) {
        const QCoreApplication app(argc, argv);
        const QByteArray choice(value);
        if (choice != "on" && choice != "off") {
            diagnostics::err(QStringLiteral("QuorvelOlvane: --autostart takes on or off, got ")
                             + diagnostics::printable(QString::fromLocal8Bit(choice)));
            return 2;
        }
        return autostart::set(choice == "on") ? 0 : 1;
    }

    register_application_id();

    QApplication app(argc, argv);
    // --folder DIR: run there, as if started there (the login entry has no working folder of its own).
    const QStringList arguments = QCoreApplication::arguments();
    if (const qsizetype at = arguments.indexOf(QString::fromLatin1(autostart::kFolderOption));
        at > 0 && at + 1 < arguments.size() && !QDir::setCurrent(arguments.at(at + 1)))
        return cannot_start(QStringLiteral("cannot enter the folder ")
                                + diagnostics::printable(QDir::toNativeSeparators(arguments.at(at + 1))),
                            errors_unseen);
    // A bar already running for this config.json is shown instead.
    const std::unique_ptr<SingleInstance> instance = SingleInstance::claim(BarConfig::get_config_path());
    if (!instance)
        return 0;
    // The icon's path, with its two lines, before the window; the icon itself is decoded once the window is
    // up.
    const QString icon_file = BarConfig::resource_path(QStringLiteral("resources/icon/icon.ico"));

    std::optional<QuorvelOlvane> window;
    try {
        window.emplace();
    } catch (const std::exception &e) {
        // Nothing has been shown; a reader already started was joined as the window unwound.
        return cannot_start(QString::fromUtf8(e.what()), errors_unseen);
    }
    wire_features(*window);
    window->show();
    // The first frame does without the icon.
    QTimer::singleShot(0, &*window, [&window, icon_file] {
        window->set_icon(app_icon::from_file(BarConfig::icon_path(icon_file)));
    });
    instance->show_on_request(*window);
#ifdef Q_OS_UNIX
    close_on_end_signals(*window);
#endif
    return QApplication::exec();
}
