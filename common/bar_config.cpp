// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "common/bar_config.h"

#include "common/diagnostics.h"
#include "common/regular_file.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <climits>
#include <utility>
#include <vector>

namespace {

QString describe(const QString &path)
{
    return BarConfig::shown_path(path);
}

[[noreturn]] void fail(const QString &path, const QString &reason)
{
    throw ConfigError((describe(path) + QStringLiteral(": ") + reason).toStdString());
}

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Parses the whole text as one JSON value within the nesting and member
// limits; any fault becomes a ConfigError naming the file.
BarConfig::Json parse_limited(const QByteArray &bytes, const QString &path)
{
    using Json = BarConfig::Json;
    using Event = Json::parse_event_t;
    // The parser reports the number of enclosing containers as `depth`: a
    // container that starts at depth d is level d + 1. Members are counted per
    // open object, indexed by its level.
    enum class Limit { None, Depth, Members };
    Limit exceeded = Limit::None;
    std::vector<int> members;
    const auto check = [&exceeded, &members](int depth, Event event, Json & /*value*/) {
        const auto level = static_cast<std::size_t>(depth) + 1;
        if (event == Event::object_start || event == Event::array_start) {
            if (depth >= BarConfig::kMaxDepth) {
                exceeded = Limit::Depth;
                throw ConfigError("");
            }
            members.resize(level + 1);
            members[level] = 0;
        } else if (event == Event::key && ++members[level - 1] > BarConfig::kMaxMembers) {
            exceeded = Limit::Members;
            throw ConfigError("");
        }
        return true;
    };

    try {
        return Json::parse(bytes.cbegin(), bytes.cend(), check);
    } catch (const Json::exception &e) {
        // A syntax error, or a number too large for a double (out_of_range).
        // The message carries the line and column; its "[json.exception...] " tag helps no user.
        QString message = QString::fromUtf8(e.what());
        if (message.startsWith(u'[') && message.contains(QStringLiteral("] ")))
            message = message.mid(message.indexOf(QStringLiteral("] ")) + 2);
        fail(path, QStringLiteral("is not valid JSON: ") + message);
    } catch (const ConfigError &) {
        if (exceeded == Limit::Members)
            fail(path, QStringLiteral("has an object with more than %1 members").arg(BarConfig::kMaxMembers));
        fail(path, QStringLiteral("is nested deeper than %1 levels").arg(BarConfig::kMaxDepth));
    }
}

} // namespace

BarConfig::BarConfig(QString config_path)
    : path(std::move(config_path))
{
}

void BarConfig::load()
{
    load(read(path));
}

BarConfig::Contents BarConfig::read(const QString &path)
{
    regular_file::Read result = regular_file::read(path, kMaxFileBytes);
    return {std::move(result.bytes), std::move(result.error)};
}

bool BarConfig::names_device(const Contents &contents)
{
    if (!contents.bytes)
        return false;
    try {
        const Json doc = parse_limited(*contents.bytes, {});
        return doc.is_object() && (doc.contains("device") || doc.contains("devices"));
    } catch (const ConfigError &) {
        return false;
    }
}

BarConfig::Json BarConfig::parse(const QByteArray &bytes, const QString &path)
{
    return parse_limited(bytes, path);
}

QString BarConfig::apply_error() const
{
    const auto named = [this](const QString &reason) {
        return describe(path) + QStringLiteral(": ") + reason;
    };
    if (!areas.is_object())
        return named(QStringLiteral("\"areas\" must be a JSON object"));
    for (const auto &entry : areas.items()) {
        const QString key = QString::fromStdString(Json(entry.key()).dump());
        if (!area_index_from_key(entry.key()))
            return named(QStringLiteral("area key %1 is not a decimal integer").arg(key));
        if (!entry.value().is_object())
            return named(QStringLiteral("area %1 must be a JSON object").arg(key));
    }
    if (!opacity.is_number() && !opacity.is_boolean())
        return named(QStringLiteral("\"bar\" → \"opacity\" must be a number"));
    return {};
}

QString BarConfig::partly_applied() const
{
    if (!areas.is_object())
        return QStringLiteral("the other settings were applied; the areas and the opacity were not");
    for (const auto &entry : areas.items()) {
        if (!area_index_from_key(entry.key()) || !entry.value().is_object())
            return QStringLiteral("the areas before it and the other settings were applied; "
                                  "that area, the areas after it and the opacity were not");
    }
    return QStringLiteral("the areas and the other settings were applied; the opacity was not");
}

QMap<int, QString> BarConfig::unusable_colors() const
{
    QMap<int, QString> unusable;
    if (!areas.is_object())
        return unusable;
    for (const auto &entry : areas.items()) {
        const std::optional<int> index = area_index_from_key(entry.key());
        if (!index || !entry.value().is_object())
            break;
        const auto color = entry.value().find("color");
        if (color == entry.value().end()) {
            unusable.remove(*index);
        } else if (!color->is_string()) {
            unusable.insert(*index, QString::fromStdString(color->dump()));
        } else {
            const QString text = QString::fromStdString(color->get<std::string>());
            if (QColor(text).isValid())
                unusable.remove(*index);
            else
                unusable.insert(*index, text);
        }
    }
    return unusable;
}

QString BarConfig::unusable_color_reason(int area, const QString &text) const
{
    return describe(path)
           + QStringLiteral(": area %1: \"color\" \"%2\" is not a colour (a name such as yellow, or "
                            "#RRGGBB); the area is drawn black")
                 .arg(area)
                 .arg(diagnostics::printable(text));
}

void BarConfig::load(const Contents &contents)
{
    if (!contents.error.isEmpty())
        throw ConfigError(contents.error.toStdString());
    if (!contents.bytes)
        return;
    const QByteArray &bytes = *contents.bytes;

    // The JSON library would skip a byte-order mark silently; such a file is refused.
    if (bytes.startsWith("\xEF\xBB\xBF"))
        fail(path, QStringLiteral("starts with a byte-order mark; save it as UTF-8 without one"));
    // An editor's "Unicode" save: a UTF-16 mark, or a zero byte beside the first character.
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")
        || (bytes.size() >= 2 && (bytes[0] == '\0' || bytes[1] == '\0')))
        fail(path, QStringLiteral("is saved as UTF-16; save it as UTF-8"));

    Json doc = parse_limited(bytes, path);

    if (!doc.is_object())
        fail(path, QStringLiteral("the top level must be a JSON object"));

    Json new_opacity = kDefaultOpacity;
    if (const auto bar = doc.find("bar"); bar != doc.end()) {
        if (!bar->is_object())
            fail(path, QStringLiteral("\"bar\" must be a JSON object"));
        if (const auto value = bar->find("opacity"); value != bar->end())
            new_opacity = std::move(*value);
    }
    BarOptions new_options = BarOptions::from_json(doc, path);
    Json new_areas = Json::object();
    if (const auto value = doc.find("areas"); value != doc.end())
        new_areas = std::move(*value);

    opacity = std::move(new_opacity);
    areas = std::move(new_areas);
    options = std::move(new_options);
}

void BarConfig::save() const
{
    Json doc = Json::object();
    doc["areas"] = areas;
    const QByteArray text = text_of(doc, path);
    // Whole or not at all, and through a symlink only into a regular file.
    if (const QString reason = regular_file::write(path, text); !reason.isEmpty())
        throw ConfigError(reason.toStdString());
}

QByteArray BarConfig::text_of(const Json &doc, const QString &path)
{
    // Ended by a line end, as editors and tools expect of a text file.
    std::string text = doc.dump(2, ' ', /*ensure_ascii=*/true) + '\n';
#ifdef Q_OS_WIN
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (c == '\n')
            crlf.push_back('\r');
        crlf.push_back(c);
    }
    text = std::move(crlf);
#endif

    // Indentation makes deep trees much larger when written; a file that
    // load would refuse is not written at all.
    if (text.size() > static_cast<std::size_t>(kMaxFileBytes))
        fail(path, QStringLiteral("would be larger than %1 bytes; not saved").arg(kMaxFileBytes));
    return QByteArray::fromStdString(text);
}

QString BarConfig::shown_path(const QString &path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

QString BarConfig::get_config_path()
{
    return QStringLiteral("config.json");
}

QString BarConfig::resource_path(const QString &relative)
{
    qsizetype skip = 0;
    while (skip < relative.size() && (relative[skip] == u'/' || relative[skip] == u'\\'))
        ++skip;
    const QString stripped = relative.mid(skip);
    const QString base = QDir::currentPath();

    const QString exe = QCoreApplication::applicationFilePath();
    // Both lines in one write: the reader thread, already running, must not
    // print its own line between them.
    diagnostics::out(QStringLiteral("exe: ") + QDir::toNativeSeparators(exe) + QStringLiteral("\nbase: ")
                     + QDir::toNativeSeparators(QFileInfo(exe).absolutePath()));

    if (stripped.isEmpty())
        return QDir::toNativeSeparators(base);
    return QDir::toNativeSeparators(base + u'/' + stripped);
}

QString BarConfig::resource_path(const std::filesystem::path &relative)
{
    return resource_path(QString::fromStdU16String(relative.generic_u16string()));
}

QString BarConfig::icon_path(const QString &in_working_directory)
{
    if (QFileInfo::exists(in_working_directory))
        return in_working_directory;
    const QString installed = qEnvironmentVariable("QUORVEL_OLVANE_RESOURCES");
    if (!installed.isEmpty()) {
        const QString icon = installed + QStringLiteral("/icon/icon.ico");
        if (QFileInfo::exists(icon))
            return QDir::toNativeSeparators(icon);
    }
    return in_working_directory;
}

std::optional<double> BarConfig::number(const Json &value)
{
    if (value.is_boolean())
        return value.get<bool>() ? 1.0 : 0.0;
    if (value.is_number())
        return value.get<double>();
    return std::nullopt;
}

std::optional<int> BarConfig::area_index_from_key(std::string_view key)
{
    std::size_t begin = 0;
    std::size_t end = key.size();
    while (begin < end && is_space(key[begin]))
        ++begin;
    while (end > begin && is_space(key[end - 1]))
        --end;

    bool negative = false;
    if (begin < end && (key[begin] == '+' || key[begin] == '-')) {
        negative = key[begin] == '-';
        ++begin;
    }
    if (begin == end)
        return std::nullopt;

    long long value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const char c = key[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        // Saturate: a key too long for an int is still an integer, just no area.
        if (value <= INT_MAX)
            value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}
