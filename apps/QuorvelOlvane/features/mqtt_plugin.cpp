// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// The library that "mqtt" loads: libmosquitto comes with it, not with the bar.

#include "apps/QuorvelOlvane/features/mqtt_feature.h"

#include <QObject>

class MqttPlugin final
    : public QObject
    , public MqttFeatureFactory
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID MqttFeatureFactory_iid)
    Q_INTERFACES(MqttFeatureFactory)

public:
    std::unique_ptr<MqttSide> create(BarControl &bar) override { return std::make_unique<MqttFeature>(bar); }
};

#include "mqtt_plugin.moc"
