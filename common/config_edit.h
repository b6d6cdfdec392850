// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/bar_config.h"

#include <QString>

#include <string>
#include <vector>

// Edits config.json as the user wrote it: members are set by their path in
// the parsed file, and a save writes anew only the members that changed,
// into the file's own text (found by byte offsets), so member order, layout,
// "$schema", members the bar does not know, number texts and duplicate keys
// stay byte for byte. What is written anew is as BarConfig writes (two-space
// indent, ASCII only). The file is written whole or not at all, the previous
// one kept beside it as "<file>.bak" (a file of its own with the original's
// mode, never written through a link), and only when it would load.
class ConfigEdit final
{
public:
    using Json = BarConfig::Json;
    using MemberPath = std::vector<std::string>;

    enum class Outcome {
        Saved,
        Unchanged,     // nothing to write: the file already says this
        ChangedOnDisk, // the file is not what was read: nothing written
        Refused,       // the result would not load, or cannot be written: `error` says why
    };
    struct Result
    {
        Outcome outcome = Outcome::Refused;
        QString error;
    };

    explicit ConfigEdit(QString path);

    // Reads the file as it is now; the edits start again from it.
    void read();

    // The file could not be parsed (or read): the edits start from an empty
    // object and a save replaces it. `broken_reason` says what is wrong.
    bool broken() const { return !_broken_reason.isEmpty(); }
    QString broken_reason() const { return _broken_reason; }

    // The file as read, and with the edits so far.
    const Json &original() const { return _original; }
    const Json &document() const { return _document; }

    // Sets the member at `member` (objects on the way are made, or replace
    // what is no object); removes it with `remove`.
    void set(const MemberPath &member, Json value);
    void remove(const MemberPath &member);
    // Starts the edits again from the file as read.
    void discard_edits() { _document = _original; }
    // The file is no longer what `read` or the last save left.
    bool changed_on_disk() const { return BarConfig::read(path) != _read; }

    // Writes the edited file. Unless `overwrite`, a file that changed on
    // disk since `read` is left alone (ChangedOnDisk).
    Result save(bool overwrite = false);

    static QString backup_path(const QString &path) { return path + QStringLiteral(".bak"); }

    const QString path;

private:
    BarConfig::Contents _read;
    QString _broken_reason;
    Json _original = Json::object();
    Json _document = Json::object();
};
