// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/config_edit.h"

#include "common/config_error.h"
#include "common/regular_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using Json = ConfigEdit::Json;

// The members of one object in the file's own text, by byte offsets: what a
// save needs to change those it edits and leave every other byte alone (a
// number written 1E2, a member the bar does not know, a duplicate key, the
// file's own layout). Only text that parsed as JSON comes here.
class Spans
{
public:
    struct Member
    {
        std::string key;
        std::size_t key_start = 0;
        std::size_t value_start = 0;
        std::size_t value_end = 0;
    };
    struct Object
    {
        std::vector<Member> members; // in the file's order, duplicates too
        std::size_t close = 0;       // the closing brace
    };

    explicit Spans(const std::string &text)
        : _text(text)
    {
    }

    std::size_t skip_space(std::size_t at) const
    {
        while (at < _text.size()
               && (_text[at] == ' ' || _text[at] == '\t' || _text[at] == '\n' || _text[at] == '\r'))
            ++at;
        return at;
    }

    // The object that opens at `open`; nothing for what is not one.
    std::optional<Object> object(std::size_t open) const
    {
        if (open >= _text.size() || _text[open] != '{')
            return std::nullopt;
        Object object;
        std::size_t at = skip_space(open + 1);
        if (at < _text.size() && _text[at] == '}') {
            object.close = at;
            return object;
        }
        for (;;) {
            Member member;
            member.key_start = at;
            const std::size_t key_end = skip_string(at);
            if (key_end == std::string::npos)
                return std::nullopt;
            const Json key = Json::parse(_text.substr(at, key_end - at), nullptr, false);
            if (!key.is_string())
                return std::nullopt;
            member.key = key.get<std::string>();
            at = skip_space(key_end);
            if (at >= _text.size() || _text[at] != ':')
                return std::nullopt;
            member.value_start = skip_space(at + 1);
            member.value_end = skip_value(member.value_start);
            if (member.value_end == std::string::npos)
                return std::nullopt;
            object.members.push_back(std::move(member));
            at = skip_space(object.members.back().value_end);
            if (at >= _text.size())
                return std::nullopt;
            if (_text[at] == '}') {
                object.close = at;
                return object;
            }
            if (_text[at] != ',')
                return std::nullopt;
            at = skip_space(at + 1);
        }
    }

    const std::string &text() const { return _text; }

private:
    std::size_t skip_string(std::size_t at) const
    {
        if (at >= _text.size() || _text[at] != '"')
            return std::string::npos;
        for (++at; at < _text.size(); ++at) {
            if (_text[at] == '\\')
                ++at;
            else if (_text[at] == '"')
                return at + 1;
        }
        return std::string::npos;
    }

    std::size_t skip_value(std::size_t at) const
    {
        if (at >= _text.size())
            return std::string::npos;
        if (_text[at] == '"')
            return skip_string(at);
        if (_text[at] == '{' || _text[at] == '[') {
            int depth = 0;
            while (at < _text.size()) {
                const char c = _text[at];
                if (c == '"') {
                    at = skip_string(at);
                    if (at == std::string::npos)
                        return at;
                    continue;
                }
                if (c == '{' || c == '[')
                    ++depth;
                else if ((c == '}' || c == ']') && --depth == 0)
                    return at + 1;
                ++at;
            }
            return std::string::npos;
        }
        while (at < _text.size() && std::string_view(",}] \t\r\n").find(_text[at]) == std::string_view::npos)
            ++at;
        return at;
    }

    const std::string &_text;
};

struct Edit
{
    std::size_t start = 0;
    std::size_t end = 0;
    std::string text;
};

// The text from `start` to `end` with the edits inside that range made.
std::string with_edits(const std::string &text, std::size_t start, std::size_t end,
                       const std::vector<Edit> &edits)
{
    std::string out;
    std::size_t at = start;
    for (const Edit &edit : edits) {
        if (edit.start < at || edit.end > end)
            continue;
        out.append(text, at, edit.start - at);
        out += edit.text;
        at = edit.end;
    }
    out.append(text, at, end - at);
    return out;
}

// `value` as BarConfig writes it, for a place `level` objects deep.
std::string dump_at(const Json &value, int level, const std::string &eol)
{
    const std::string text = value.dump(2, ' ', /*ensure_ascii=*/true);
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += eol;
            out.append(static_cast<std::size_t>(level) * 2, ' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string indent(int level)
{
    std::string spaces(static_cast<std::size_t>(level) * 2, ' ');
    return spaces;
}

std::optional<std::string> patch_object(const Spans &spans, std::size_t open, const Json &before,
                                        const Json &after, int level, const std::string &eol);

// The edits that give the changed members of `object` (holding `before`)
// their values in `after`, in text order; `removed` tells whether any went.
std::optional<std::vector<Edit>> member_edits(const Spans &spans, const Spans::Object &object,
                                              const Json &before, const Json &after, int level,
                                              const std::string &eol, bool &removed)
{
    // The parser keeps the last of duplicate keys: that one is the value.
    std::map<std::string, std::size_t> last;
    for (std::size_t i = 0; i < object.members.size(); ++i)
        last[object.members[i].key] = i;
    if (last.size() != before.size())
        return std::nullopt;
    std::vector<Edit> edits;
    removed = false;
    for (const auto &[key, index] : last) {
        const auto now = after.find(key);
        if (now == after.end()) {
            removed = true;
            continue;
        }
        const Json &was = before.at(key);
        if (was == *now)
            continue;
        const Spans::Member &member = object.members[index];
        if (was.is_object() && now->is_object() && spans.text()[member.value_start] == '{') {
            std::optional<std::string> inner =
                patch_object(spans, member.value_start, was, *now, level + 1, eol);
            if (!inner)
                return std::nullopt;
            edits.push_back({member.value_start, member.value_end, std::move(*inner)});
        } else {
            edits.push_back({member.value_start, member.value_end, dump_at(*now, level + 1, eol)});
        }
    }
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.start < b.start; });
    return edits;
}

// An object laid out anew from its members' texts, one per line.
std::string laid_out(const std::vector<std::string> &members, int level, const std::string &eol)
{
    if (members.empty())
        return "{}";
    std::string out = "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i > 0)
            out += ',';
        out += eol;
        out += indent(level + 1);
        out += members[i];
    }
    out += eol;
    out += indent(level);
    out += '}';
    return out;
}

// The new text of the object opening at `open`, which holds `before`, so
// that it holds `after`: members that differ are written anew (objects
// member by member), new ones go last, and everything else is the file's own
// text. Nothing when the text is not what the parse said.
std::optional<std::string> patch_object(const Spans &spans, std::size_t open, const Json &before,
                                        const Json &after, int level, const std::string &eol)
{
    const std::optional<Spans::Object> object = spans.object(open);
    if (!object)
        return std::nullopt;
    bool removed = false;
    std::optional<std::vector<Edit>> edits = member_edits(spans, *object, before, after, level, eol, removed);
    if (!edits)
        return std::nullopt;

    std::vector<std::string> added;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (!before.contains(it.key()))
            added.push_back(Json(it.key()).dump(-1, ' ', true) + ": " + dump_at(it.value(), level + 1, eol));
    }
    const std::string &text = spans.text();
    if (removed || object->members.empty()) {
        // The object is laid out anew; the members it keeps keep their text.
        std::vector<std::string> members;
        for (const Spans::Member &member : object->members) {
            if (after.contains(member.key))
                members.push_back(with_edits(text, member.key_start, member.value_end, *edits));
        }
        members.insert(members.end(), added.begin(), added.end());
        return laid_out(members, level, eol);
    }
    std::string additions;
    for (const std::string &member : added) {
        additions += ',';
        additions += eol;
        additions += indent(level + 1);
        additions += member;
    }
    if (!additions.empty()) {
        const std::size_t end = object->members.back().value_end;
        edits->push_back({end, end, additions});
    }
    return with_edits(text, open, object->close + 1, *edits);
}

// The file's text with `after` in place of `before`, or nothing.
std::optional<QByteArray> patched(const QByteArray &bytes, const Json &before, const Json &after)
{
    const std::string text = bytes.toStdString();
    const Spans spans(text);
    const std::size_t open = spans.skip_space(0);
    // The file's own line ends for what is written anew.
#ifdef Q_OS_WIN
    const bool crlf = text.find('\n') == std::string::npos || text.find("\r\n") != std::string::npos;
#else
    const bool crlf = text.find("\r\n") != std::string::npos;
#endif
    const std::string eol = crlf ? "\r\n" : "\n";
    std::optional<std::string> object = patch_object(spans, open, before, after, 0, eol);
    if (!object)
        return std::nullopt;
    const Spans::Object whole = *spans.object(open);
    return QByteArray::fromStdString(text.substr(0, open) + *object + text.substr(whole.close + 1));
}

// The previous file beside it: a new file with the original's mode, never
// written through a link that happens to have the backup's name.
QString write_backup(const QString &backup, const QByteArray &bytes, const QString &original)
{
    const auto failed = [&backup](const QString &why) {
        return QStringLiteral("%1: %2; nothing written").arg(backup, why);
    };
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(backup);
    struct stat info
    {};
    if (::lstat(name.constData(), &info) == 0) {
        if (S_ISLNK(info.st_mode)) {
            if (::unlink(name.constData()) != 0)
                return failed(QStringLiteral("is a link that cannot be replaced"));
        } else if (!S_ISREG(info.st_mode)) {
            return failed(QStringLiteral("is not a regular file"));
        }
    }
    mode_t mode = 0600;
    if (::stat(QFile::encodeName(original).constData(), &info) == 0)
        mode = info.st_mode & 07777;
#else
    if (QFileInfo(backup).isSymLink() && !QFile::remove(backup))
        return failed(QStringLiteral("is a link that cannot be replaced"));
#endif
    QSaveFile file(backup);
    if (!file.open(QIODevice::WriteOnly))
        return failed(QStringLiteral("cannot be written: ") + file.errorString());
#ifdef Q_OS_UNIX
    if (::fchmod(file.handle(), mode) != 0) {
        file.cancelWriting();
        return failed(QStringLiteral("cannot be given the mode of the file it keeps"));
    }
#endif
    if (file.write(bytes) != bytes.size() || !file.commit())
        return failed(QStringLiteral("cannot be written: ") + file.errorString());
    return {};
}

} // namespace

ConfigEdit::ConfigEdit(QString config_path)
    : path(std::move(config_path))
{
}

void ConfigEdit::read()
{
    _read = BarConfig::read(path);
    _broken_reason.clear();
    _original = Json::object();
    if (!_read.error.isEmpty()) {
        _broken_reason = _read.error;
    } else if (_read.bytes) {
        try {
            _original = BarConfig::parse(*_read.bytes, path);
            if (!_original.is_object())
                throw ConfigError(
                    (path + QStringLiteral(": the top level must be a JSON object")).toStdString());
        } catch (const ConfigError &e) {
            // A file that does parse but fails a check is kept: the save
            // names what is wrong unless an edit mends it.
            _broken_reason = QString::fromUtf8(e.what());
            _original = Json::object();
        }
    }
    _document = _original;
}

void ConfigEdit::set(const MemberPath &member, Json value)
{
    if (member.empty())
        return;
    Json *at = &_document;
    for (std::size_t i = 0; i + 1 < member.size(); ++i) {
        if (!at->is_object())
            *at = Json::object();
        at = &(*at)[member[i]];
    }
    if (!at->is_object())
        *at = Json::object();
    (*at)[member.back()] = std::move(value);
}

void ConfigEdit::remove(const MemberPath &member)
{
    Json *at = &_document;
    for (std::size_t i = 0; i + 1 < member.size(); ++i) {
        if (!at->is_object() || !at->contains(member[i]))
            return;
        at = &(*at)[member[i]];
    }
    if (!member.empty() && at->is_object())
        at->erase(member.back());
}

ConfigEdit::Result ConfigEdit::save(bool overwrite)
{
    if (!overwrite && changed_on_disk())
        return {Outcome::ChangedOnDisk, {}};
    if (!broken() && _read.bytes && _document == _original)
        return {Outcome::Unchanged, {}};
    try {
        // The file's own text with only the edited members written anew; a
        // broken or missing file is written whole.
        std::optional<QByteArray> spliced;
        if (!broken() && _read.bytes)
            spliced = patched(*_read.bytes, _original, _document);
            // A text file's last line ends with a line end, as the bar's own writes do.
#ifdef Q_OS_WIN
        constexpr const char *kLineEnd = "\r\n";
#else
        constexpr const char *kLineEnd = "\n";
#endif
        if (spliced && !spliced->endsWith('\n'))
            spliced->append(kLineEnd);
        const QByteArray text = spliced ? *spliced : BarConfig::text_of(_document, path);
        if (text.size() > BarConfig::kMaxFileBytes)
            return {Outcome::Refused, QStringLiteral("%1: would be larger than %2 bytes; not saved")
                                          .arg(path)
                                          .arg(BarConfig::kMaxFileBytes)};
        // Never a file the bar would refuse.
        BarConfig check(path);
        check.load(BarConfig::Contents{text, {}});
        if (const QString reason = check.apply_error(); !reason.isEmpty())
            return {Outcome::Refused, reason};
        const regular_file::Target target = regular_file::write_target(path);
        if (!target.error.isEmpty())
            return {Outcome::Refused, target.error + QStringLiteral("; nothing written")};
        const BarConfig::Contents previous = BarConfig::read(target.path);
        if (!previous.error.isEmpty())
            return {Outcome::Refused, previous.error};
        if (previous.bytes) {
            if (const QString reason = write_backup(backup_path(path), *previous.bytes, target.path);
                !reason.isEmpty())
                return {Outcome::Refused, reason};
        }
        if (const QString reason = regular_file::write(path, text); !reason.isEmpty())
            return {Outcome::Refused, reason};
        _read = BarConfig::Contents{text, {}};
    } catch (const std::exception &e) {
        return {Outcome::Refused, QString::fromUtf8(e.what())};
    }
    _broken_reason.clear();
    _original = _document;
    return {Outcome::Saved, {}};
}
