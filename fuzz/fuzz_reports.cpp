// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// Fuzzes the switch box's reports: the bytes go to the bar's report handler
// as one report and as a long sequence of reports of any length (0 to 64
// bytes, the sequence possibly repeated). After every report the lit areas
// must match a model of the decision table, and areas 1 and 3, which no
// switch drives, must never light.

#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "fuzz/fuzz_support.h"
#include "tests/switch_model.h"

#include <QFile>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// libFuzzer calls plain functions; the window they share lives here.
std::unique_ptr<QuorvelOlvane> g_window; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

void reset()
{
    g_window->draw_widget->set_lit_areas({0, 1, 2, 3, 4, 5, 6, 7}, false);
    g_window->switch_to_area = SwitchToArea();
}

void feed(SwitchModel &model, const QByteArray &report, std::size_t size)
{
    g_window->handle_hid_data(report);
    model.apply(report);
    const auto &lit = g_window->draw_widget->lit_flags;
    FUZZ_CHECK(!lit[1] && !lit[3], size);
    FUZZ_CHECK(lit == model.lit, size);
    FUZZ_CHECK(g_window->switch_to_area.switch7_enabled == model.mode, size);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/)
{
    fuzz::init_application();
    QFile::remove(QStringLiteral("config.json"));
    g_window = std::make_unique<QuorvelOlvane>();
    g_window->resize(QuorvelOlvane::kMinimumWidth, QuorvelOlvane::kMinimumHeight);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray all = fuzz::bytes(data, size);

    // The whole input as one report, whatever its length.
    reset();
    SwitchModel single;
    feed(single, all, size);

    // The input as a sequence: a length byte (taken modulo 65), then that
    // many bytes; the first byte says how often the sequence repeats.
    if (size < 2)
        return 0;
    reset();
    SwitchModel sequence;
    const int repeats = 1 + data[0] % 16;
    for (int round = 0; round < repeats; ++round) {
        std::size_t at = 1;
        while (at < size) {
            const std::size_t length = data[at++] % 65;
            const std::size_t take = length < size - at ? length : size - at;
            feed(sequence, all.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(take)), size);
            at += take;
        }
    }
    // The widget never repaints here, but a paint of the final state must work.
    (void)g_window->draw_widget->grab();
    return 0;
}
