// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/features/settings_window.h"

#include "apps/QuorvelOlvane/draw_area_widget.h"
#include "apps/QuorvelOlvane/features/bar_interface.h"
#include "common/diagnostics.h"
#include "common/switch_to_area.h"
#include "common/version.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmapCache>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QSlider>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

namespace {

using Json = BarConfig::Json;

constexpr int kAreaCount = 8;

QString hex_id(int id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

std::string color_text(const QColor &color)
{
    return color.name(QColor::HexRgb).toUpper().toStdString();
}

// The key of `map` (an object keyed by decimal numbers) that names `number`
// last, as the bar reads it; `number` written plainly when none does.
QString key_for(const Json &doc, const char *member, int number)
{
    QString key = QString::number(number);
    if (const auto map = doc.find(member); map != doc.end() && map->is_object()) {
        for (const auto &entry : map->items()) {
            if (BarConfig::area_index_from_key(entry.key()) == number)
                key = QString::fromStdString(entry.key());
        }
    }
    return key;
}

// Whether `doc` lists any area. Without one the bar starts with its built-in
// palette; with one, every area not listed starts black.
bool lists_areas(const Json &doc)
{
    const auto listed = doc.find("areas");
    return listed != doc.end() && listed->is_object() && !listed->empty();
}

// Whether the user at the seat may open the device node; elsewhere opening
// is not refused for want of permission.
bool may_open(const QString &path)
{
#ifdef Q_OS_LINUX
    return path.isEmpty() || ::access(path.toLocal8Bit().constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(path)
    return true;
#endif
}

// With a border of its own the button is drawn flat in exactly `color`: the
// style's shaded bevel would show it lighter than it is.
void set_swatch(QPushButton *button, const QColor &color)
{
    button->setStyleSheet(color.isValid()
                              ? QStringLiteral("background-color: %1; color: %2; border: 1px solid #808080; "
                                               "padding: 3px 8px")
                                    .arg(color.name(), DrawAreaWidget::contrasting_text_color(color).name())
                              : QString());
}

// An area colour the bar cannot draw: said on the swatch, with the file's text.
void set_unusable_swatch(QPushButton *button, const QString &text)
{
    button->setText(QStringLiteral("無効: %1").arg(diagnostics::printable(text)));
    button->setStyleSheet(QStringLiteral("color: #B00020; border: 2px solid #B00020; padding: 3px 8px"));
}

} // namespace

SettingsWindow::SettingsWindow(BarInterface &bar)
    : QDialog(nullptr)
    , _bar(bar)
    , _edit(bar.config().path)
    , _snapshot(bar.config())
{
    setWindowTitle(QStringLiteral("QuorvelOlvane 設定"));
    setAccessibleName(windowTitle());
    _edit.read();
    _read_bar();
    _build();
    _show_values();

    _assign_timeout.setSingleShot(true);
    connect(&_assign_timeout, &QTimer::timeout, this, &SettingsWindow::_assign_timed_out);
    _assign_tick.setInterval(kCountdownTickMs);
    connect(&_assign_tick, &QTimer::timeout, this, &SettingsWindow::_show_countdown);
    connect(&bar, &BarInterface::switch_event, this, [this](const SwitchEvent &event) {
        if (event.on)
            _on_press(event.switch_no);
    });
    connect(&bar, &BarInterface::area_changed, this, [this](int area) { _update_area_title(area); });

    _device_refresh.setInterval(kDeviceRefreshMs);
    connect(&_device_refresh, &QTimer::timeout, this, &SettingsWindow::refresh_devices);
}

SettingsWindow::~SettingsWindow()
{
    // The style keeps pictures of this window's buttons under keys no later
    // window asks for: left there, each opening would add to the cache up to its limit.
    QPixmapCache::clear();
}

QString SettingsWindow::switches_text(const QMap<int, int> &overrides, int area)
{
    QStringList parts;
    for (auto it = overrides.cbegin(); it != overrides.cend(); ++it) {
        if (it.value() == area)
            parts.append(QStringLiteral("スイッチ %1").arg(it.key()));
    }
    for (int switch_no = 0; switch_no < static_cast<int>(SwitchToArea::kBuiltInAreas.size()); ++switch_no) {
        if (overrides.contains(switch_no))
            continue;
        const int built_in = SwitchToArea::kBuiltInAreas.at(static_cast<std::size_t>(switch_no));
        if (switch_no == SwitchToArea::kModeSwitch && built_in == area) {
            parts.append(QStringLiteral("スイッチ %1 (モード: オンの間はスイッチ %2 もエリア %3 を点灯)")
                             .arg(switch_no)
                             .arg(SwitchToArea::kModeDependentSwitch)
                             .arg(SwitchToArea::kModeArea));
        } else if (switch_no == SwitchToArea::kModeDependentSwitch && built_in == area
                   && !overrides.contains(SwitchToArea::kModeSwitch)) {
            parts.append(QStringLiteral("スイッチ %1 (スイッチ %2 がオンの間はエリア %3)")
                             .arg(switch_no)
                             .arg(SwitchToArea::kModeSwitch)
                             .arg(SwitchToArea::kModeArea));
        } else if (built_in == area) {
            parts.append(QStringLiteral("スイッチ %1").arg(switch_no));
        }
    }
    return parts.isEmpty() ? QStringLiteral("スイッチなし") : parts.join(QStringLiteral(", "));
}

QString SettingsWindow::area_name(int area, const QString &label, bool lit)
{
    const QString state = lit ? QStringLiteral("点灯") : QStringLiteral("消灯");
    if (label.isEmpty())
        return QStringLiteral("エリア %1, %2").arg(area).arg(state);
    return QStringLiteral("エリア %1: %2, %3").arg(area).arg(label, state);
}

QString SettingsWindow::udev_rule(int vendor, int product)
{
    return QStringLiteral(
               "KERNEL==\"hidraw*\", ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\", TAG+=\"uaccess\"")
        .arg(hex_id(vendor), hex_id(product));
}

void SettingsWindow::_read_bar()
{
    for (int area = 0; area < kAreaCount; ++area) {
        const auto i = static_cast<std::size_t>(area);
        const AreaState shown = _bar.area(area);
        _shown_colors.at(i) = shown.color;
        _shown_labels.at(i) = shown.label;
        _shown_label_colors.at(i) = _bar.label_color(area);
    }

    _unusable = _bar.config().unusable_colors();
    const BarOptions &options = _bar.config().options;
    Values values;
    values.opacity = _bar.area_opacity();
    values.colors = _shown_colors;
    values.labels = _shown_labels;
    values.label_colors = _shown_label_colors;
    values.switches = options.switches;
    values.device = options.device;
    values.screen = options.screen;
    values.remember_geometry = options.remember_geometry;
    values.tray = options.tray;
    values.click_through = options.click_through;
    _initial = values;
    _values = values;
}

void SettingsWindow::_build()
{
    auto *top = new QVBoxLayout(this);
    broken_notice = new QLabel(this);
    broken_notice->setWordWrap(true);
    broken_notice->setStyleSheet(QStringLiteral("color: #B00020"));
    broken_notice->setVisible(_edit.broken());
    if (_edit.broken())
        broken_notice->setText(
            QStringLiteral("config.json が壊れています (%1)。バーの今の設定を表示しています。"
                           "保存すると置き換え、元のファイルは config.json.bak に残ります。")
                .arg(_edit.broken_reason()));
    top->addWidget(broken_notice);
    color_notice = new QLabel(this);
    color_notice->setWordWrap(true);
    color_notice->setStyleSheet(QStringLiteral("color: #B00020"));
    top->addWidget(color_notice);

    // The pages scroll: beside a tall bar the window may get less height
    // than they want, and 保存 stays in sight below them.
    _scroll = new QScrollArea(this);
    _scroll->setWidgetResizable(true);
    _scroll->setFrameShape(QFrame::NoFrame);
    auto *tabs = new QTabWidget;
    _scroll->setWidget(tabs);
    top->addWidget(_scroll);

    _build_areas(tabs);
    _build_box(tabs);
    _build_placement(tabs);
    _build_about(tabs);

    auto *buttons = new QDialogButtonBox(this);
    save_button = buttons->addButton(QStringLiteral("保存"), QDialogButtonBox::AcceptRole);
    cancel_button = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    top->addWidget(buttons);
    connect(save_button, &QPushButton::clicked, this, &SettingsWindow::save);
    connect(cancel_button, &QPushButton::clicked, this, &SettingsWindow::reject);
}

void SettingsWindow::_build_areas(QTabWidget *tabs)
{
    // Areas: two rows of four, as on the bar.
    auto *areas_page = new QWidget;
    auto *areas_layout = new QVBoxLayout(areas_page);
    auto *grid = new QGridLayout;
    areas_layout->addLayout(grid);
    for (int area = 0; area < kAreaCount; ++area) {
        const AreaControls &controls = _build_area(area, areas_page);
        grid->addWidget(controls.box, area / DrawAreaWidget::kColumns, area % DrawAreaWidget::kColumns);
    }
    auto *opacity_row = new QHBoxLayout;
    auto *opacity_label = new QLabel(QStringLiteral("バーの不透明度"), areas_page);
    opacity = new QSlider(Qt::Horizontal, areas_page);
    opacity->setRange(kMinOpacityPercent, 100);
    opacity->setAccessibleName(opacity_label->text());
    opacity_label->setBuddy(opacity);
    opacity_value = new QLabel(areas_page);
    // As wide as its widest value, so the slider does not shift as it moves.
    opacity_value->setMinimumWidth(opacity_value->fontMetrics().horizontalAdvance(QStringLiteral("100 %")));
    opacity_value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    opacity_row->addWidget(opacity_label);
    opacity_row->addWidget(opacity);
    opacity_row->addWidget(opacity_value);
    areas_layout->addLayout(opacity_row);
    assign_notice = new QLabel(areas_page);
    assign_notice->setWordWrap(true);
    assign_notice->hide();
    areas_layout->addWidget(assign_notice);
    connect(opacity, &QSlider::valueChanged, this, [this](int percent) {
        opacity_value->setText(QStringLiteral("%1 %").arg(percent));
        if (_filling)
            return;
        _values.opacity = percent / 100.0;
        _preview();
    });
    tabs->addTab(areas_page, QStringLiteral("エリア"));
}

SettingsWindow::AreaControls &SettingsWindow::_build_area(int area, QWidget *parent)
{
    AreaControls &controls = areas.at(static_cast<std::size_t>(area));
    controls.box = new QGroupBox(parent);
    auto *form = new QFormLayout(controls.box);
    controls.color = new QPushButton(QStringLiteral("色…"), controls.box);
    controls.color->setAccessibleName(QStringLiteral("エリア %1 の色").arg(area));
    form->addRow(QStringLiteral("色"), controls.color);
    controls.label = new QLineEdit(controls.box);
    controls.label->setAccessibleName(QStringLiteral("エリア %1 のラベル").arg(area));
    form->addRow(QStringLiteral("ラベル"), controls.label);
    auto *label_color_row = new QHBoxLayout;
    controls.label_color = new QPushButton(QStringLiteral("文字色…"), controls.box);
    controls.label_color->setAccessibleName(QStringLiteral("エリア %1 のラベルの色").arg(area));
    controls.automatic_label_color = new QCheckBox(QStringLiteral("自動"), controls.box);
    controls.automatic_label_color->setAccessibleName(
        QStringLiteral("エリア %1 のラベルの色を自動に").arg(area));
    label_color_row->addWidget(controls.label_color);
    label_color_row->addWidget(controls.automatic_label_color);
    form->addRow(QStringLiteral("文字色"), label_color_row);
    // A row of its own, the whole box wide: the text says "スイッチ …" itself,
    // and a long one wraps instead of being cut.
    controls.switches = new QLabel(controls.box);
    controls.switches->setWordWrap(true);
    form->addRow(controls.switches);
    controls.assign =
        new QPushButton(QStringLiteral("エリア %1 にスイッチを割り当て").arg(area), controls.box);
    form->addRow(controls.assign);

    connect(controls.color, &QPushButton::clicked, this, [this, area] {
        const QColor chosen = QColorDialog::getColor(_values.colors.at(static_cast<std::size_t>(area)), this,
                                                     QStringLiteral("エリア %1 の色").arg(area));
        if (chosen.isValid())
            set_area_color(area, chosen);
    });
    connect(controls.label, &QLineEdit::textChanged, this, [this, area](const QString &text) {
        if (_filling)
            return;
        _values.labels.at(static_cast<std::size_t>(area)) = text;
        _update_area_title(area);
        _preview();
    });
    connect(controls.label_color, &QPushButton::clicked, this, [this, area] {
        const auto &current = _values.label_colors.at(static_cast<std::size_t>(area));
        const QColor chosen = QColorDialog::getColor(current.value_or(QColor(Qt::white)), this,
                                                     QStringLiteral("エリア %1 のラベルの色").arg(area));
        if (chosen.isValid())
            set_label_color(area, chosen);
    });
    connect(controls.automatic_label_color, &QCheckBox::toggled, this, [this, area](bool automatic) {
        if (_filling)
            return;
        const auto &current = _values.label_colors.at(static_cast<std::size_t>(area));
        set_label_color(area, automatic ? std::nullopt : std::optional<QColor>(current.value_or(Qt::white)));
    });
    connect(controls.assign, &QPushButton::clicked, this, [this, area] { assign_switch(area); });
    return controls;
}

void SettingsWindow::_build_box(QTabWidget *tabs)
{
    // The switch box.
    auto *box_page = new QWidget;
    auto *box_layout = new QVBoxLayout(box_page);
    devices = new QTreeWidget(box_page);
    devices->setAccessibleName(QStringLiteral("接続中の HID デバイス"));
    devices->setRootIsDecorated(false);
    // Every column as wide as its widest entry, the bold one of the configured box included.
    devices->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    devices->setHeaderLabels({QStringLiteral("ID"), QStringLiteral("製造元"), QStringLiteral("製品"),
                              QStringLiteral("シリアル番号"), QStringLiteral("パス"),
                              QStringLiteral("状態")});
    box_layout->addWidget(devices);
    device_help = new QLabel(box_page);
    device_help->setWordWrap(true);
    device_help->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box_layout->addWidget(device_help);
    use_device = new QPushButton(QStringLiteral("選んだデバイスをスイッチボックスにする"), box_page);
    box_layout->addWidget(use_device);
    reconnect = new QCheckBox(QStringLiteral("外れても接続を待つ (reconnect)"), box_page);
    show_state = new QCheckBox(QStringLiteral("接続していない理由をバーに表示 (show_state)"), box_page);
    box_layout->addWidget(reconnect);
    box_layout->addWidget(show_state);
    // Several boxes are set in config.json by hand: the window edits one.
    const bool several = !_bar.config().options.devices.isEmpty();
    for (QWidget *widget : {static_cast<QWidget *>(use_device), static_cast<QWidget *>(reconnect),
                            static_cast<QWidget *>(show_state)})
        widget->setEnabled(!several);
    const auto use_selected = [this] {
        const int row = devices->indexOfTopLevelItem(devices->currentItem());
        if (row < 0 || row >= _listed.size())
            return;
        _values.device.vendor_id = _listed.at(row).vendor_id;
        _values.device.product_id = _listed.at(row).product_id;
        refresh_devices();
        _preview();
    };
    connect(use_device, &QPushButton::clicked, this, use_selected);
    connect(devices, &QTreeWidget::itemActivated, this, [use_selected, this] {
        if (use_device->isEnabled())
            use_selected();
    });
    connect(devices, &QTreeWidget::currentItemChanged, this, [this] { refresh_devices(); });
    connect(reconnect, &QCheckBox::toggled, this, [this](bool on) {
        if (_filling)
            return;
        _values.device.reconnect = on;
        _preview();
    });
    connect(show_state, &QCheckBox::toggled, this, [this](bool on) {
        if (_filling)
            return;
        _values.device.show_state = on;
        _preview();
    });
    tabs->addTab(box_page, QStringLiteral("スイッチボックス"));
}

QString SettingsWindow::guide_page(const QString &program_folder)
{
    // Beside the program on Windows, under share/doc in a Linux install, in
    // the source tree for a build folder inside it.
    const QDir folder(program_folder);
    for (const QString &relative :
         {QStringLiteral("guide/index.md"), QStringLiteral("../../share/doc/quorvel-olvane/guide/index.md"),
          QStringLiteral("../../docs/guide/index.md")}) {
        const QString page = QDir::cleanPath(folder.absoluteFilePath(relative));
        if (QFileInfo(page).isFile())
            return QDir::toNativeSeparators(page);
    }
    return {};
}

void SettingsWindow::_build_about(QTabWidget *tabs)
{
    auto *about_page = new QWidget;
    auto *about_layout = new QVBoxLayout(about_page);
    const QString guide = guide_page(QCoreApplication::applicationDirPath());
    about = new QLabel(QStringLiteral("QuorvelOlvane %1\nMIT ライセンス (LICENSE)\nユーザーガイド: %2")
                           .arg(QString::fromLatin1(build_info::kVersion),
                                guide.isEmpty() ? QStringLiteral("docs/guide/index.md") : guide),
                       about_page);
    about->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    about->setWordWrap(true);
    about->setAccessibleName(QStringLiteral("情報"));
    about_layout->addWidget(about);
    about_layout->addStretch();
    tabs->addTab(about_page, QStringLiteral("情報"));
}

void SettingsWindow::_build_placement(QTabWidget *tabs)
{
    // Where the bar goes and how it is used.
    auto *place_page = new QWidget;
    auto *place_layout = new QFormLayout(place_page);
    screen = new QComboBox(place_page);
    screen->setAccessibleName(QStringLiteral("画面"));
    place_layout->addRow(QStringLiteral("画面"), screen);
    remember_geometry = new QCheckBox(QStringLiteral("位置と大きさを記憶"), place_page);
    tray = new QCheckBox(QStringLiteral("トレイにアイコンを表示"), place_page);
    click_through = new QCheckBox(QStringLiteral("クリックを透過"), place_page);
    place_layout->addRow(remember_geometry);
    place_layout->addRow(tray);
    place_layout->addRow(click_through);
    connect(screen, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (_filling || index < 0)
            return;
        _values.screen = screen->itemData(index).toString();
        _preview();
    });
    const auto check = [this](QCheckBox *box, bool Values::*member) {
        connect(box, &QCheckBox::toggled, this, [this, member](bool on) {
            if (_filling)
                return;
            _values.*member = on;
            _preview();
        });
    };
    check(remember_geometry, &Values::remember_geometry);
    check(tray, &Values::tray);
    check(click_through, &Values::click_through);
    tabs->addTab(place_page, QStringLiteral("配置"));
}

void SettingsWindow::_show_values()
{
    _filling = true;
    for (int area = 0; area < kAreaCount; ++area) {
        const auto i = static_cast<std::size_t>(area);
        AreaControls &controls = areas.at(i);
        _show_color(area);
        controls.label->setText(_values.labels.at(i));
        set_swatch(controls.label_color, _values.label_colors.at(i).value_or(QColor()));
        controls.automatic_label_color->setChecked(!_values.label_colors.at(i));
        controls.switches->setText(switches_text(_values.switches, area));
        _update_area_title(area);
    }
    opacity->setValue(static_cast<int>(std::lround(_values.opacity * 100)));
    opacity_value->setText(QStringLiteral("%1 %").arg(opacity->value()));
    reconnect->setChecked(_values.device.reconnect);
    show_state->setChecked(_values.device.show_state);
    screen->clear();
    screen->addItem(QStringLiteral("プライマリ画面 (primary)"), BarOptions::kPrimaryScreen);
    for (const QScreen *present : QGuiApplication::screens())
        screen->addItem(present->name(), present->name());
    if (screen->findData(_values.screen) < 0)
        screen->addItem(QStringLiteral("%1 (接続されていません)").arg(_values.screen), _values.screen);
    screen->setCurrentIndex(screen->findData(_values.screen));
    remember_geometry->setChecked(_values.remember_geometry);
    tray->setChecked(_values.tray);
    click_through->setChecked(_values.click_through);
    _filling = false;
}

void SettingsWindow::_update_area_title(int area)
{
    if (area < 0 || area >= kAreaCount)
        return;
    const auto i = static_cast<std::size_t>(area);
    const QString name = area_name(area, _values.labels.at(i), _bar.area(area).lit);
    areas.at(i).box->setTitle(name);
    areas.at(i).box->setAccessibleName(name);
}

void SettingsWindow::set_area_color(int area, const QColor &color)
{
    const auto i = static_cast<std::size_t>(area);
    _values.colors.at(i) = color;
    if (color.isValid())
        _unusable.remove(area);
    _show_color(area);
    _preview();
}

void SettingsWindow::_show_color(int area)
{
    QPushButton *button = areas.at(static_cast<std::size_t>(area)).color;
    if (_unusable.contains(area)) {
        set_unusable_swatch(button, _unusable.value(area));
    } else {
        button->setText(QStringLiteral("色…"));
        set_swatch(button, _values.colors.at(static_cast<std::size_t>(area)));
    }
    QStringList lines;
    for (auto it = _unusable.cbegin(); it != _unusable.cend(); ++it)
        lines.append(QStringLiteral("エリア %1 の色 \"%2\" は使えない色です (黒で表示しています)。"
                                    "色を選んで保存してください。")
                         .arg(it.key())
                         .arg(diagnostics::printable(it.value())));
    color_notice->setText(lines.join(u'\n'));
    color_notice->setVisible(!lines.isEmpty());
}

void SettingsWindow::set_label_color(int area, const std::optional<QColor> &color)
{
    const auto i = static_cast<std::size_t>(area);
    _values.label_colors.at(i) = color;
    _filling = true;
    areas.at(i).automatic_label_color->setChecked(!color);
    _filling = false;
    set_swatch(areas.at(i).label_color, color.value_or(QColor()));
    _preview();
}

// The bar shows the values through the path a reloaded config.json takes.
void SettingsWindow::_preview()
{
    assign_notice->hide();
    BarConfig shown = _snapshot;
    shown.opacity = _values.opacity;
    if (!shown.areas.is_object())
        shown.areas = Json::object();
    shown.options.areas.clear();
    for (int area = 0; area < kAreaCount; ++area) {
        const auto i = static_cast<std::size_t>(area);
        if (_values.colors.at(i) != _initial.colors.at(i))
            shown.areas[_area_key(area).toStdString()]["color"] = color_text(_values.colors.at(i));
        AreaOptions options;
        options.index = area;
        if (!_values.labels.at(i).isEmpty())
            options.label = _values.labels.at(i);
        options.label_color = _values.label_colors.at(i);
        shown.options.areas.append(options);
    }
    shown.options.switches = _values.switches;
    shown.options.device = _values.device;
    shown.options.screen = _values.screen;
    shown.options.remember_geometry = _values.remember_geometry;
    shown.options.tray = _values.tray;
    shown.options.click_through = _values.click_through;
    _bar.preview(shown);
}

void SettingsWindow::_restore()
{
    _bar.preview(_snapshot);
    for (int area = 0; area < kAreaCount; ++area) {
        const auto i = static_cast<std::size_t>(area);
        _bar.show_look(area, _shown_colors.at(i), _shown_labels.at(i), _shown_label_colors.at(i));
    }
    // config.json changed while the window was open: the bar shows it.
    if (_edit.changed_on_disk())
        _bar.reload();
}

void SettingsWindow::assign_switch(int area)
{
    if (area < 0 || area >= kAreaCount)
        return;
    _end_assign();
    _assign_area = area;
    assign_notice->hide();
    press_prompt = new QMessageBox(QMessageBox::NoIcon, windowTitle(),
                                   QStringLiteral("スイッチを押してください"), QMessageBox::Cancel, this);
    press_prompt->setAttribute(Qt::WA_DeleteOnClose);
    connect(press_prompt, &QMessageBox::finished, this, [this] {
        _assign_area.reset();
        _assign_timeout.stop();
        _assign_tick.stop();
    });
    _assign_timeout.start(assign_timeout_ms);
    _assign_tick.start();
    _show_countdown();
    press_prompt->open();
}

void SettingsWindow::_show_countdown()
{
    if (!press_prompt || !_assign_area)
        return;
    // Whole seconds left, rounded up: the last one shows as 1, not 0.
    const int left = (std::max(_assign_timeout.remainingTime(), 0) + 999) / 1000;
    press_prompt->setInformativeText(
        QStringLiteral("押したスイッチをエリア %1 に割り当てます (あと %2 秒)").arg(*_assign_area).arg(left));
}

// Nothing pressed in time: the prompt goes, and the window says so until the user acts again.
void SettingsWindow::_assign_timed_out()
{
    _end_assign();
    assign_notice->setText(QStringLiteral("スイッチが押されませんでした。変更はありません。"));
    assign_notice->show();
}

void SettingsWindow::_end_assign()
{
    _assign_area.reset();
    _assign_timeout.stop();
    _assign_tick.stop();
    if (press_prompt)
        press_prompt->done(QMessageBox::Cancel);
}

void SettingsWindow::_on_press(int switch_no)
{
    if (!_assign_area)
        return;
    const int area = *_assign_area;
    _end_assign();
    // Listed, the switch is a plain switch, switch 7 included.
    _values.switches.insert(switch_no, area);
    for (int other = 0; other < kAreaCount; ++other)
        areas.at(static_cast<std::size_t>(other)).switches->setText(switches_text(_values.switches, other));
    _preview();
}

void SettingsWindow::refresh_devices()
{
    const QList<HidDeviceInfo> now = HIDReaderThread::connected_devices();
    if (now != _listed) {
        _listed = now;
        const int row = devices->indexOfTopLevelItem(devices->currentItem());
        const QSignalBlocker block(devices);
        devices->clear();
        for (const HidDeviceInfo &info : _listed) {
            // Owned by the list, which deletes it when cleared.
            new QTreeWidgetItem(devices, {hex_id(info.vendor_id) + u':' + hex_id(info.product_id),
                                          info.manufacturer, info.product, info.serial, info.path});
        }
        if (row >= 0 && row < devices->topLevelItemCount())
            devices->setCurrentItem(devices->topLevelItem(row));
    }
    QString help;
    for (int row = 0; row < _listed.size(); ++row) {
        const HidDeviceInfo &info = _listed.at(row);
        QStringList state;
        const bool configured =
            info.vendor_id == _values.device.vendor_id && info.product_id == _values.device.product_id;
        if (configured)
            state.append(QStringLiteral("設定中のスイッチボックス"));
        const bool allowed = may_open(info.path);
        if (!allowed)
            state.append(QStringLiteral("アクセス権がありません"));
        QTreeWidgetItem *item = devices->topLevelItem(row);
        item->setText(5, state.join(QStringLiteral(", ")));
        QFont font = item->font(0);
        font.setBold(configured);
        for (int column = 0; column < devices->columnCount(); ++column)
            item->setFont(column, font);
        if (!allowed && (configured || item == devices->currentItem()) && help.isEmpty()) {
#ifdef Q_OS_LINUX
            help = QStringLiteral(
                       "%1 を開く権限がありません。次の行を /etc/udev/rules.d/70-quorvelolvane.rules "
                       "に書き、sudo udevadm control --reload-rules && sudo udevadm trigger を実行して、"
                       "ボックスを差し直してください:\n%2")
                       .arg(info.path, udev_rule(info.vendor_id, info.product_id));
#endif
        }
    }
    device_help->setText(help);
    device_help->setVisible(!help.isEmpty());
}

QRect SettingsWindow::beside(const QRect &bar, const QRect &available, const QSize &size)
{
    // The larger free band of the screen above or below the bar.
    QRect space = available;
    if (available.bottom() - bar.bottom() >= bar.top() - available.top())
        space.setTop(std::max(bar.bottom() + 1, available.top()));
    else
        space.setBottom(std::min(bar.top() - 1, available.bottom()));
    if (space.height() <= 0) // a bar as tall as the screen leaves no band: the screen then
        space = available;
    QRect placed(QPoint(), size.boundedTo(space.size()));
    placed.moveCenter(space.center());
    return placed;
}

void SettingsWindow::place_beside_bar()
{
    const QRect bar = _bar.frame_geometry();
    QScreen *on = QGuiApplication::screenAt(bar.center());
    if (!on)
        on = QGuiApplication::primaryScreen();
    if (!on)
        return;
    // The frame around the window, once the window system has put one there.
    QSize frame = frameGeometry().size() - geometry().size();
    if (frame.isEmpty() && windowHandle())
        frame = QSize(windowHandle()->frameMargins().left() + windowHandle()->frameMargins().right(),
                      windowHandle()->frameMargins().top() + windowHandle()->frameMargins().bottom());
    // The pages whole, not the scroll area's share of them.
    const QSize pages = (_scroll->widget()->sizeHint() - _scroll->sizeHint()).expandedTo(QSize(0, 0));
    const QSize wanted = sizeHint().expandedTo(size()) + pages + frame.expandedTo(QSize(0, 0));
    const QRect placed = beside(bar, on->availableGeometry(), wanted);
    // Not framed yet: placed again once the window system has framed it, so
    // that its title bar is on the screen too and the frame clears the bar.
    _place_when_framed = frame.isEmpty();
    setScreen(on);
    resize(placed.size() - frame.expandedTo(QSize(0, 0)));
    move(placed.topLeft());
}

void SettingsWindow::moveEvent(QMoveEvent *event)
{
    QDialog::moveEvent(event);
    if (_place_when_framed && windowHandle() != nullptr && !windowHandle()->frameMargins().isNull())
        place_beside_bar();
}

void SettingsWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    refresh_devices();
    _device_refresh.start();
}

void SettingsWindow::hideEvent(QHideEvent *event)
{
    _device_refresh.stop();
    QDialog::hideEvent(event);
}

QString SettingsWindow::_area_key(int area) const
{
    return key_for(_edit.original(), "areas", area);
}

QString SettingsWindow::_switch_key(int switch_no) const
{
    return key_for(_edit.original(), "switches", switch_no);
}

// Only what differs from what the bar showed, or everything for a broken file.
void SettingsWindow::_add_edits()
{
    _edit.discard_edits();
    const bool all = _edit.broken();
    const auto text = [](const QString &value) { return value.toStdString(); };
    if (all || _values.opacity != _initial.opacity)
        _edit.set({"bar", "opacity"}, std::round(_values.opacity * 100) / 100);
    for (int area = 0; area < kAreaCount; ++area)
        _add_area_edits(area, all);
    // The first area written would leave the other seven black at the next
    // start: all eight go in, as the bar shows them.
    if (!lists_areas(_edit.original()) && lists_areas(_edit.document())) {
        for (int area = 0; area < kAreaCount; ++area) {
            const QColor &color = _values.colors.at(static_cast<std::size_t>(area));
            if (color.isValid())
                _edit.set({"areas", text(_area_key(area)), "color"}, color_text(color));
        }
    }
    for (auto it = _values.switches.cbegin(); it != _values.switches.cend(); ++it) {
        if (all || _initial.switches.value(it.key(), -1) != it.value())
            _edit.set({"switches", text(_switch_key(it.key()))}, it.value());
    }
    _add_option_edits(all);
}

// One area's members: colour, label and label colour.
void SettingsWindow::_add_area_edits(int area, bool all)
{
    const auto text = [](const QString &value) { return value.toStdString(); };
    const auto i = static_cast<std::size_t>(area);
    const std::string key = text(_area_key(area));
    const bool label_changed =
        (all && !_values.labels.at(i).isEmpty()) || _values.labels.at(i) != _initial.labels.at(i);
    const bool label_color_changed =
        (all && _values.label_colors.at(i)) || _values.label_colors.at(i) != _initial.label_colors.at(i);
    // An area listed without "color" is drawn white: one the file did not
    // list yet keeps the colour it shows.
    const Json &listed = _edit.original().value("areas", Json::object());
    const bool new_entry = !listed.is_object() || !listed.contains(key);
    if (all || _values.colors.at(i) != _initial.colors.at(i)
        || (new_entry && (label_changed || label_color_changed)))
        _edit.set({"areas", key, "color"}, color_text(_values.colors.at(i)));
    if (label_changed) {
        if (_values.labels.at(i).isEmpty())
            _edit.remove({"areas", key, "label"});
        else
            _edit.set({"areas", key, "label"}, text(_values.labels.at(i)));
    }
    if (label_color_changed) {
        if (!_values.label_colors.at(i))
            _edit.remove({"areas", key, "label_color"});
        else
            _edit.set({"areas", key, "label_color"}, color_text(*_values.label_colors.at(i)));
    }
}

// The switch box and the bar's own members.
void SettingsWindow::_add_option_edits(bool all)
{
    const auto text = [](const QString &value) { return value.toStdString(); };
    const DeviceOptions &device = _values.device;
    const DeviceOptions &was = _initial.device;
    const auto id = [](int value) { return (QStringLiteral("0x") + hex_id(value).toUpper()).toStdString(); };
    if (all || device.vendor_id != was.vendor_id || device.product_id != was.product_id) {
        _edit.set({"device", "vendor_id"}, id(device.vendor_id));
        _edit.set({"device", "product_id"}, id(device.product_id));
    }
    if (all || device.reconnect != was.reconnect)
        _edit.set({"device", "reconnect"}, device.reconnect);
    if (all || device.show_state != was.show_state)
        _edit.set({"device", "show_state"}, device.show_state);
    if (all || _values.screen != _initial.screen)
        _edit.set({"bar", "screen"}, text(_values.screen));
    if (all || _values.remember_geometry != _initial.remember_geometry)
        _edit.set({"bar", "remember_geometry"}, _values.remember_geometry);
    if (all || _values.tray != _initial.tray)
        _edit.set({"bar", "tray"}, _values.tray);
    if (all || _values.click_through != _initial.click_through)
        _edit.set({"bar", "click_through"}, _values.click_through);
}

void SettingsWindow::save()
{
    _add_edits();
    ConfigEdit::Result result = _edit.save();
    if (result.outcome == ConfigEdit::Outcome::ChangedOnDisk) {
        QMessageBox ask(QMessageBox::Question, windowTitle(),
                        QStringLiteral("config.json はこのウィンドウを開いた後に変更されています。"),
                        QMessageBox::NoButton, this);
        const QAbstractButton *reload =
            ask.addButton(QStringLiteral("ディスクの内容を読み込む"), QMessageBox::DestructiveRole);
        const QAbstractButton *overwrite =
            ask.addButton(QStringLiteral("上書きする"), QMessageBox::AcceptRole);
        ask.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
        ask.exec();
        if (ask.clickedButton() == reload) {
            _reload_from_disk();
            return;
        }
        if (ask.clickedButton() != overwrite)
            return;
        result = _edit.save(/*overwrite=*/true);
    }
    if (result.outcome == ConfigEdit::Outcome::Refused) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("保存できませんでした: ") + result.error);
        return;
    }
    _saved = true;
    accept();
}

// The file as it is now becomes what the window started from; the bar takes it too.
void SettingsWindow::_reload_from_disk()
{
    _restore();
    _snapshot = _bar.config();
    _edit.read();
    _read_bar();
    broken_notice->setVisible(_edit.broken());
    _show_values();
    refresh_devices();
}

void SettingsWindow::done(int result)
{
    _end_assign();
    if (!_saved)
        _restore();
    _saved = true; // once
    QDialog::done(result);
    deleteLater();
}
