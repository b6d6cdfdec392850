#include "common/config_edit.h"

#include "common/config_error.h"
#include "common/regular_file.h"

#include <utility>

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
        const QByteArray text = BarConfig::text_of(_document, path);
        // Never a file the bar would refuse.
        BarConfig check(path);
        check.load(BarConfig::Contents{text, {}});
        if (const QString reason = check.apply_error(); !reason.isEmpty())
            return {Outcome::Refused, reason};
        if (const QString reason = regular_file::write(path, text, backup_path(path)); !reason.isEmpty())
            return {Outcome::Refused, reason};
        _read = BarConfig::Contents{text, {}};
    } catch (const std::exception &e) {
        return {Outcome::Refused, QString::fromUtf8(e.what())};
    }
    _broken_reason.clear();
    _original = _document;
    return {Outcome::Saved, {}};
}
