// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/area_state.h"
#include "common/bar_options.h"
#include "common/box_state.h"
#include "common/switch_event.h"

#include <QtPlugin>

#include <memory>

class BarControl;

// The bar's side of "mqtt" as the bar sees it. It lives in a library of its
// own, loaded only when config.json has "mqtt" (libmosquitto comes with it):
// it sees the bar through BarControl and is fed the bar's events by virtual
// calls, so that neither side needs the other's symbols.
class MqttSide
{
public:
    MqttSide() = default;
    virtual ~MqttSide() = default;
    MqttSide(const MqttSide &) = delete;
    MqttSide &operator=(const MqttSide &) = delete;
    MqttSide(MqttSide &&) = delete;
    MqttSide &operator=(MqttSide &&) = delete;

    // config.json's settings, at start-up and after every change; "mqtt" is present.
    virtual void apply(const BarOptions &options) = 0;
    virtual void on_switch(const SwitchEvent &event) = 0;
    virtual void on_area(int area, const AreaState &state) = 0;
    virtual void on_device_state(const BoxSummary &summary) = 0;
};

// What the library gives the bar: a feature made for a bar.
class MqttFeatureFactory
{
public:
    MqttFeatureFactory() = default;
    virtual ~MqttFeatureFactory() = default;
    MqttFeatureFactory(const MqttFeatureFactory &) = delete;
    MqttFeatureFactory &operator=(const MqttFeatureFactory &) = delete;
    MqttFeatureFactory(MqttFeatureFactory &&) = delete;
    MqttFeatureFactory &operator=(MqttFeatureFactory &&) = delete;

    virtual std::unique_ptr<MqttSide> create(BarControl &bar) = 0;
};

#define MqttFeatureFactory_iid "quorvel.olvane.MqttFeatureFactory/1"
Q_DECLARE_INTERFACE(MqttFeatureFactory, MqttFeatureFactory_iid)
