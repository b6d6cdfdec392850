// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// Fuzzes config.json: the bytes become the file in the working folder, then
// go through the start-up path (a new window), the change path (an existing
// window re-reading it) and, when the file loads, a save and reload that must
// give back the same tree.

#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "common/bar_config.h"
#include "fuzz/fuzz_support.h"

#include <QFile>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

const QString kConfig = QStringLiteral("config.json");
const QString kSaved = QStringLiteral("saved.json");
const QString kSavedAgain = QStringLiteral("saved-again.json");

// libFuzzer calls plain functions; the window they share lives here.
std::unique_ptr<QuorvelOlvane> g_window; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

void write_file(const QString &path, const QByteArray &content, std::size_t size)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), size);
    FUZZ_CHECK(file.write(content) == content.size(), size);
}

QByteArray read_file(const QString &path, std::size_t size)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly), size);
    return file.readAll();
}

void start_up(std::size_t size)
{
    try {
        QuorvelOlvane window;
        // Whatever was in the file, the bar that came up has a numeric
        // opacity of at least 0.5 in both places.
        FUZZ_CHECK(window.config->opacity.is_number() || window.config->opacity.is_boolean(), size);
        FUZZ_CHECK(window.draw_widget->opacity >= 0.5, size);
        (void)window.draw_widget->grab();
    } catch (const ConfigError &) {
        // A file the bar refuses at start-up: the program exits with status 1.
    }
}

void change(std::size_t size)
{
    // Start from the same state for every input.
    *g_window->config = BarConfig(BarConfig::get_config_path());
    g_window->draw_widget->set_init_area_color();
    g_window->draw_widget->set_area_opacity(BarConfig::kDefaultOpacity);
    g_window->draw_widget->set_lit_areas({0, 1, 2, 3, 4, 5, 6, 7}, true);

    g_window->on_config_changed(); // reports errors itself and never throws
    (void)g_window->draw_widget->grab();
    (void)size;
}

void round_trip(std::size_t size)
{
    BarConfig loaded(kConfig);
    try {
        loaded.load();
    } catch (const ConfigError &) {
        return;
    }

    loaded.path = kSaved;
    loaded.save();
    BarConfig reloaded(kSaved);
    reloaded.load();
    FUZZ_CHECK(reloaded.areas == loaded.areas, size);
    // save() writes no "bar" member.
    FUZZ_CHECK(reloaded.opacity == BarConfig::Json(BarConfig::kDefaultOpacity), size);

    // A saved file saves to the very same bytes.
    reloaded.path = kSavedAgain;
    reloaded.save();
    FUZZ_CHECK(read_file(kSaved, size) == read_file(kSavedAgain, size), size);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/)
{
    fuzz::init_application();
    QFile::remove(kConfig);
    g_window = std::make_unique<QuorvelOlvane>();
    g_window->resize(QuorvelOlvane::kMinimumWidth, QuorvelOlvane::kMinimumHeight);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    write_file(kConfig, fuzz::bytes(data, size), size);
    start_up(size);
    change(size);
    round_trip(size);
    return 0;
}
