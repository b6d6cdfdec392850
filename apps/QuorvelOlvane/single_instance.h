// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QSocketNotifier;
class QWidget;

// One bar per config file and user. The first start listens on a local
// socket named after both; a later start asks that bar to show itself and
// ends, so a second click on the menu entry brings back a bar hidden in the
// tray instead of opening a second one on the same switch box.
class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    // The socket's name (a full path in a folder private to the user: the
    // runtime folder, or one made in the temporary folder) for the config
    // file at `config_path`, taken canonical and absolute, and the user
    // running the program. Empty where there is no such folder to trust.
    static QString server_name(const QString &config_path);

    // The bar for `config_path` in this process: null after telling a bar
    // already running for it to show itself, which is then said on standard
    // output. A start with no bar to tell costs one failed connect and one
    // bind; a socket left by a killed bar is taken over. Listening failures
    // never stop a start: the bar then runs without being found by later
    // starts.
    static std::unique_ptr<SingleInstance> claim(const QString &config_path);

    ~SingleInstance() override;

    // Shows, raises and activates `window` whenever a later start asks.
    void show_on_request(QWidget &window);

private:
    SingleInstance() = default;

    enum class Listen { Listening, Taken, Failed };
    // Listens on `name`; Taken when something already has the name.
    Listen _listen(const QString &name);

#ifdef Q_OS_WIN
    std::unique_ptr<QLocalServer> _server;
#else
    void _accept(QWidget &window);
    void _read_request(int fd, QWidget &window);

    int _fd = -1;     // the listening socket
    QByteArray _file; // its file, removed with it
    QSocketNotifier *_listening = nullptr;
    int _readers = 0; // connections open, bounded
#endif
};
