// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/bar_options.h"
#include "common/config_error.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string_view>

// The user's settings for the bar, read from config.json: one opacity and the
// per-area colours, kept exactly as the file gives them.
class BarConfig final
{
public:
    using Json = nlohmann::ordered_json;

    // Deeper nesting is refused on load, so that no later recursive walk of
    // the tree (copy, dump, destruction) can run out of stack.
    static constexpr int kMaxDepth = 512;
    // A configuration takes a few hundred bytes. Larger files are refused
    // unread, and so are objects with more members: each member costs a
    // search through those before it, which would freeze the bar.
    static constexpr qint64 kMaxFileBytes = qint64{1024} * 1024;
    static constexpr int kMaxMembers = 1000;
    static constexpr double kDefaultOpacity = 0.7;

    // What reading the file gave: its bytes; no bytes and no error when
    // there is no file; or the message saying why it cannot be read.
    struct Contents
    {
        std::optional<QByteArray> bytes;
        QString error;
        bool operator==(const Contents &) const = default;
    };

    explicit BarConfig(QString config_path);

    void load();
    // Parses what `read` gave, as `load` does after reading.
    void load(const Contents &contents);
    // Reads the file at `path` without blocking: only a regular file is
    // opened. Never throws.
    static Contents read(const QString &path);
    // Whether what `read` gave parses as an object naming "device" or "devices": the bar
    // then waits for the configuration before it opens a switch box.
    static bool names_device(const Contents &contents);
    // Parses `bytes` as one JSON value within kMaxDepth and kMaxMembers.
    // Throws ConfigError naming `path` ("is not valid JSON: ...").
    static Json parse(const QByteArray &bytes, const QString &path);
    // Why this configuration cannot be applied ("areas" not an object, an area
    // key that is no decimal integer, an entry that is no object, an opacity
    // that is no number), naming the file; empty when it can.
    QString apply_error() const;
    // With an apply_error: what of the configuration is applied all the same
    // (the options, the areas before the fault) and what is not.
    QString partly_applied() const;
    // The areas whose "color" cannot be drawn (no colour name, no hex text),
    // each with its text as the file gives it: they show black. Read as the
    // bar applies the entries, in file order up to the first it cannot apply.
    QMap<int, QString> unusable_colors() const;
    // Says so of one of them, naming the file.
    QString unusable_color_reason(int area, const QString &text) const;
    void save() const;
    // The text the bar writes for `doc`: two-space indent, ASCII only, the
    // platform's line ends. Throws ConfigError, naming `path`, for a text
    // larger than load would read.
    static QByteArray text_of(const Json &doc, const QString &path);

    static QString get_config_path();
    // How messages name the file at `path`: in full, in the platform's
    // separators, so the user finds the folder it is in.
    static QString shown_path(const QString &path);
    static QString resource_path(const QString &relative);
    static QString resource_path(const std::filesystem::path &relative);
    // The icon file: `in_working_directory` (resources/icon/icon.ico there)
    // when it exists, else icon/icon.ico in the folder named by
    // QUORVEL_OLVANE_RESOURCES if there, else `in_working_directory`. The
    // launcher names the installed resources so, for a config folder it could
    // not link them into.
    static QString icon_path(const QString &in_working_directory = QStringLiteral("resources/icon/icon.ico"));

    // Reads an area key as a decimal integer: surrounding ASCII whitespace and
    // one sign allowed, any number of digits; a value beyond the int range is
    // saturated (it names no area). Anything else gives no value.
    static std::optional<int> area_index_from_key(std::string_view key);
    // An opacity as a number: a JSON number, or a boolean counted as 1 or 0.
    static std::optional<double> number(const Json &value);

    QString path;
    Json opacity = kDefaultOpacity;
    Json areas = Json::object();
    // The opt-in settings, checked as they are read: a bad one fails the load.
    BarOptions options;
};
