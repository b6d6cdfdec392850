// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// Shared by the fuzz targets: the application object, a private working
// folder, and a check that stops the run on a broken property.
namespace fuzz {

// Creates the offscreen application and makes a fresh temporary folder the
// working directory (config.json is read from there). Call once.
void init_application();

// Reports a broken property with the input's size and aborts, so that
// libFuzzer saves the input as a crash.
[[noreturn]] void fail(const char *what, std::size_t size);

inline QByteArray bytes(const std::uint8_t *data, std::size_t size)
{
    return {reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)};
}

} // namespace fuzz

#define FUZZ_CHECK(condition, size)                                                                          \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            ::fuzz::fail(#condition, (size));                                                                \
    } while (false)
