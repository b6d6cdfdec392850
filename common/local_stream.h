// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

// A client of a local stream socket (a Unix socket's path), driven by the
// event loop and never waiting: what QLocalSocket offers, without loading Qt
// Network and what it pulls in at every start of the bar (megabytes of
// memory, milliseconds of start-up) for a link most desktops never use.
class LocalStream final : public QObject
{
    Q_OBJECT

public:
    explicit LocalStream(QObject *parent = nullptr);
    ~LocalStream() override;
    LocalStream(const LocalStream &) = delete;
    LocalStream &operator=(const LocalStream &) = delete;

    // Starts connecting; `connected` or `failed` follows from the event loop.
    void connect_to(const QString &path);
    // Queued and sent as the socket takes it.
    void write(const QByteArray &bytes);
    // What has come in since the last call.
    QByteArray read_all();
    bool is_connected() const { return _connected; }
    // Closes at once; nothing is signalled after it.
    void abort();

signals:
    void connected();
    void ready_read();
    // The other end closed the connection (after whatever it sent).
    void closed();
    // Connecting, reading or writing failed; the stream is closed.
    void failed(const QString &reason);

private:
    void _on_writable();
    void _on_readable();
    void _fail(const QString &reason);
    void _close();

    int _fd = -1;
    bool _connected = false;
    QByteArray _in;
    QByteArray _out;
    std::unique_ptr<QSocketNotifier> _read;
    std::unique_ptr<QSocketNotifier> _write;
};
