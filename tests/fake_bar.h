// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "apps/QuorvelOlvane/features/bar_interface.h"
#include "common/bar_config.h"

#include <QStringList>

#include <array>
#include <cstdlib>

// The bar as a feature sees it, without a window: what features ask is
// recorded, and tests emit the bar's events themselves.
class FakeBar final : public BarInterface
{
public:
    AreaState area(int area) const override { return areas.at(static_cast<std::size_t>(area)); }
    std::optional<QColor> label_color(int /*area*/) const override { return std::nullopt; }
    double area_opacity() const override { return BarConfig::kDefaultOpacity; }
    void set_lit(int area, bool lit) override
    {
        areas.at(static_cast<std::size_t>(area)).lit = lit;
        emit area_changed(area, this->area(area));
    }
    void show_look(int area, const QColor &color, const QString &label,
                   const std::optional<QColor> & /*label_color*/) override
    {
        AreaState &shown = areas.at(static_cast<std::size_t>(area));
        if (color.isValid())
            shown.color = color;
        shown.label = label;
        emit area_changed(area, shown);
    }
    std::optional<BoxSummary> device_state() const override { return state; }
    void show_device_state(const BoxSummary &summary) override
    {
        state = summary;
        emit device_state_changed(summary);
    }
    bool click_through() const override { return through; }
    void set_click_through(bool on) override { through = on; }
    bool is_shown() const override { return shown; }
    QRect frame_geometry() const override { return frame; }
    void set_shown(bool on) override { shown = on; }
    void show_if_hidden() override { shown = true; }
    void reload() override { asked.append(QStringLiteral("reload")); }
    void open_settings() override { asked.append(QStringLiteral("settings")); }
    void preview(const BarConfig & /*values*/) override { asked.append(QStringLiteral("preview")); }
    void quit() override { asked.append(QStringLiteral("quit")); }
    const BarConfig &config() const override { return configuration; }
    QString box_label(int /*box*/) const override { return {}; }
    QWidget *area_surface() override { return nullptr; }
    void set_surface_tooltip(const QString &text) override { tooltip = text; }
    // No test here places a bar.
    ScreenPlacement &placement() override { std::abort(); }

    std::array<AreaState, kAreaCount> areas{};
    std::optional<BoxSummary> state;
    bool through = false;
    bool shown = true;
    QRect frame;
    QString tooltip;
    QStringList asked;
    BarConfig configuration{QStringLiteral("config.json")};
};
