// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "apps/QuorvelOlvane/features/mqtt_side.h"

#include <QObject>

#include <array>
#include <memory>
#include <optional>
#include <utility>

class BarControl;
class MqttLink;

// The bar's side of "mqtt": which events go out, and what a mirror shows.
class MqttFeature final
    : public QObject
    , public MqttSide
{
    Q_OBJECT

public:
    explicit MqttFeature(BarControl &bar);
    ~MqttFeature() override;
    MqttFeature(const MqttFeature &) = delete;
    MqttFeature &operator=(const MqttFeature &) = delete;

    void apply(const BarOptions &options) override;
    void on_switch(const SwitchEvent &event) override;
    void on_area(int area, const AreaState &state) override;
    void on_device_state(const BoxSummary &summary) override;

private:
    bool _mirroring() const;
    void _show_mirrored_area(int area);
    void _show_mirror_state();

    BarControl &_bar;
    BarOptions _options;
    std::unique_ptr<MqttLink> _link;
    std::array<std::optional<AreaState>, 8> _mirrored_areas;
    std::pair<DeviceState, bool> _mirrored_device{DeviceState::Connected, false};
    bool _mirror_online = false;
};
