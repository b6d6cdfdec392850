// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <array>
#include <cstddef>
#include <optional>

// What the switch box's input reports carry, and where: everything else in
// the program, the virtual switch box and the tests take the layout from here.
namespace switch_report {

inline constexpr std::size_t kCommandByte = 2;   // 33 means on, any other value off
inline constexpr std::size_t kSwitchByte = 3;    // the switch number, 0 to 255
inline constexpr std::size_t kMinimumSize = 4;   // a shorter report is dropped
inline constexpr int kOnCommand = 33;            // 0x21
inline constexpr int kOffCommand = 0;            // what the box sends on release
inline constexpr std::size_t kBoxReportSize = 8; // what the box sends: the rest is zeros

struct Fields
{
    int cmd = 0;
    int switch_no = 0;
};

// The command and switch number of a report (any byte container: QByteArray,
// std::vector), each read unsigned; nothing for a report that is too short.
template <typename Bytes>
std::optional<Fields> parse(const Bytes &report)
{
    if (static_cast<long long>(report.size()) < static_cast<long long>(kMinimumSize))
        return std::nullopt;
    return Fields{static_cast<unsigned char>(report[kCommandByte]),
                  static_cast<unsigned char>(report[kSwitchByte])};
}

// A report as the box sends it for `switch_no` with command `cmd`.
constexpr std::array<unsigned char, kBoxReportSize> make(int cmd, int switch_no)
{
    std::array<unsigned char, kBoxReportSize> bytes{};
    bytes[kCommandByte] = static_cast<unsigned char>(cmd);
    bytes[kSwitchByte] = static_cast<unsigned char>(switch_no);
    return bytes;
}

} // namespace switch_report
