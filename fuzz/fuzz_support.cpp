// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "fuzz/fuzz_support.h"

#include "tests/fake_hidapi.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace fuzz {

void init_application()
{
    static int argc = 1;
    static std::string name = "quorvel-fuzz";
    static std::array<char *, 2> argv = {name.data(), nullptr};

    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's warnings about odd colours and opacities are expected here.
    qputenv("QT_LOGGING_RULES", "*.warning=false");
    static const auto app = std::make_unique<QApplication>(argc, argv.data());

    // No switch box: every window's reader finds none and ends at once.
    fake_hid::reset_absent();

    static QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path())) {
        std::fprintf(stderr, "fuzz: cannot make a working folder\n");
        std::exit(2);
    }
}

void fail(const char *what, std::size_t size)
{
    std::fprintf(stderr, "fuzz: property broken: %s (input of %zu bytes)\n", what, size);
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz
