// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <stdexcept>

// A configuration file that cannot be read, parsed or applied; the message
// names the file and the reason.
class ConfigError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
