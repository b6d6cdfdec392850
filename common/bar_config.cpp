#include "common/bar_config.h"

#include "common/diagnostics.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <climits>
#include <system_error>
#include <utility>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString describe(const QString &path)
{
    return QDir::toNativeSeparators(path);
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

#ifdef Q_OS_UNIX
QString system_error(int error)
{
    return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

// Why a file of this type is not read; empty for a regular file.
QString not_regular(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    if (S_ISDIR(mode))
        return QStringLiteral("is a directory, not a file");
    if (S_ISFIFO(mode))
        return QStringLiteral("is a FIFO (named pipe), not a regular file");
    if (S_ISSOCK(mode))
        return QStringLiteral("is a socket, not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("is a device, not a regular file");
    return QStringLiteral("is not a regular file");
}
#endif

// The file's bytes, or nothing when there is no file. Only a regular file is
// opened: a FIFO or a device could block the bar or answer forever.
std::optional<QByteArray> read_regular_file(const QString &path)
{
    QFile file;
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat status
    {};
    if (::stat(name.constData(), &status) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return std::nullopt;
        // It may exist: a folder without search permission, a symlink loop.
        fail(path, QStringLiteral("cannot be reached: ") + system_error(error));
    }
    if (const QString reason = not_regular(status.st_mode); !reason.isEmpty())
        fail(path, reason);
    // Non-blocking, and checked again once open, in case a FIFO took its place.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        fail(path, QStringLiteral("cannot be opened: ") + system_error(errno));
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        fail(path, QStringLiteral("is not a regular file"));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        fail(path, QStringLiteral("cannot be opened: ") + file.errorString());
    }
#else
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    if (info.isDir())
        fail(path, QStringLiteral("is a directory, not a file"));
    if (!info.isFile())
        fail(path, QStringLiteral("is not a regular file"));
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(path, QStringLiteral("cannot be opened: ") + file.errorString());
#endif
    // Read in pieces: asking for the whole limit at once would allocate it.
    QByteArray bytes;
    while (bytes.size() <= BarConfig::kMaxFileBytes) {
        const QByteArray piece = file.read(qint64{64} * 1024);
        if (piece.isEmpty())
            break;
        bytes += piece;
    }
    const bool read_failed = file.error() != QFileDevice::NoError;
    const QString read_error = file.errorString();
    file.close();
    if (read_failed)
        fail(path, QStringLiteral("cannot be read: ") + read_error);
    if (bytes.size() > BarConfig::kMaxFileBytes)
        fail(path, QStringLiteral("is larger than %1 bytes").arg(BarConfig::kMaxFileBytes));
    return bytes;
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
    try {
        return {read_regular_file(path), {}};
    } catch (const ConfigError &e) {
        return {std::nullopt, QString::fromUtf8(e.what())};
    }
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
    std::string text = doc.dump(2, ' ', /*ensure_ascii=*/true);
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

    // Written beside the file and renamed over it, so a crash or a full disk
    // never leaves a truncated config.json behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        fail(path, QStringLiteral("cannot be written: ") + file.errorString());
    if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
        const QString reason = file.errorString();
        file.cancelWriting();
        fail(path, QStringLiteral("cannot be written: ") + reason);
    }
    if (!file.commit())
        fail(path, QStringLiteral("cannot be saved: ") + file.errorString());
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
    diagnostics::out(QStringLiteral("exe: ") + QDir::toNativeSeparators(exe));
    diagnostics::out(QStringLiteral("base: ") + QDir::toNativeSeparators(QFileInfo(exe).absolutePath()));

    if (stripped.isEmpty())
        return QDir::toNativeSeparators(base);
    return QDir::toNativeSeparators(base + u'/' + stripped);
}

QString BarConfig::resource_path(const std::filesystem::path &relative)
{
    return resource_path(QString::fromStdU16String(relative.generic_u16string()));
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
