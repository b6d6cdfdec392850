// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/features/tray.h"

#include "apps/QuorvelOlvane/features/bar_interface.h"
#include "apps/QuorvelOlvane/features/click_through.h"
#include "common/autostart.h"
#include "common/bar_config.h"
#include "common/diagnostics.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QUrl>

BarTray::BarTray(BarInterface &bar, ClickThrough &click_through)
    : _bar(bar)
    , _click_through(click_through)
{
    show_action = menu.addAction(QStringLiteral("バーを表示"));
    show_action->setCheckable(true);
    click_through_action = menu.addAction(QStringLiteral("クリックを透過"));
    click_through_action->setCheckable(true);
    menu.addSeparator();
    reload_action = menu.addAction(QStringLiteral("config.json を再読み込み"));
    open_folder_action = menu.addAction(QStringLiteral("設定フォルダを開く"));
    autostart_action = menu.addAction(QStringLiteral("ログイン時に起動"));
    autostart_action->setCheckable(true);
    autostart_action->setVisible(autostart::available());
    menu.addSeparator();
    settings_action = menu.addAction(QStringLiteral("設定…"));
    quit_action = menu.addAction(QStringLiteral("閉じる"));

    // The check marks show the bar as it is now.
    connect(&menu, &QMenu::aboutToShow, this, [this] {
        show_action->setChecked(_bar.is_shown());
        click_through_action->setChecked(_bar.click_through());
        // Read each time: the entry may have been changed elsewhere meanwhile.
        if (autostart_action->isVisible())
            autostart_action->setChecked(autostart::enabled());
    });
    // Each entry acts on the bar as it is, whatever its check mark says.
    connect(show_action, &QAction::triggered, this, [this] { _bar.set_shown(!_bar.is_shown()); });
    connect(click_through_action, &QAction::triggered, this,
            [this] { _click_through.set_wanted(!_bar.click_through()); });
    // Reloading may remove the tray and closing ends the program: both wait
    // until the menu has finished with this action.
    connect(
        reload_action, &QAction::triggered, &_bar, [bar = &_bar] { bar->reload(); }, Qt::QueuedConnection);
    connect(
        quit_action, &QAction::triggered, &_bar, [bar = &_bar] { bar->quit(); }, Qt::QueuedConnection);
    connect(open_folder_action, &QAction::triggered, this, &BarTray::_open_config_folder);
    connect(settings_action, &QAction::triggered, this, [this] { _bar.open_settings(); });
    connect(autostart_action, &QAction::triggered, this, [] { autostart::set(!autostart::enabled()); });

    update_icon();
    icon.setToolTip(QStringLiteral("QuorvelOlvane"));
    icon.setContextMenu(&menu);
    if (_bar.device_state())
        set_state(*_bar.device_state());
    connect(&_bar, &BarInterface::device_state_changed, this, &BarTray::set_state);
    connect(&_bar, &BarInterface::icon_changed, this, &BarTray::update_icon);
    // Standard error is out of sight for a bar started from a menu: the tray says it too.
    connect(&_bar, &BarInterface::options_not_applied, this, [this](const QString &reason) {
        show_notice(QStringLiteral("config.json の変更は適用されませんでした:\n") + reason);
    });
    icon.show();
    // A colour the bar could not draw at start-up was said before the tray was there.
    const BarConfig &config = _bar.config();
    const QMap<int, QString> unusable = config.unusable_colors();
    QStringList reasons;
    for (auto it = unusable.cbegin(); it != unusable.cend(); ++it)
        reasons.append(config.unusable_color_reason(it.key(), it.value()));
    if (!reasons.isEmpty())
        show_notice(QStringLiteral("config.json の一部は適用されませんでした:\n") + reasons.join(u'\n'));
    _click_through.set_tray(true, [] { return available(); });
}

// Without the tray nothing could bring the bar back or undo its choice.
BarTray::~BarTray()
{
    _click_through.set_tray(false);
    _bar.show_if_hidden();
}

QString BarTray::tooltip(DeviceState state, const QString &reason, bool reconnect)
{
    QString text;
    switch (state) {
    case DeviceState::Connected:
        text = QStringLiteral("接続中");
        break;
    case DeviceState::NoPermission:
        text = QStringLiteral("アクセス権がありません");
        break;
    case DeviceState::NotConnected:
        text = reconnect ? QStringLiteral("接続を待っています") : QStringLiteral("見つかりません");
        break;
    case DeviceState::Unplugged:
        text = reconnect ? QStringLiteral("接続を待っています") : QStringLiteral("取り外されました");
        break;
    case DeviceState::Failed:
        text = reconnect ? QStringLiteral("接続を待っています") : QStringLiteral("エラー");
        break;
    }
    text = QStringLiteral("QuorvelOlvane\nスイッチボックス: ") + text;
    if (!reason.isEmpty())
        text += u'\n' + diagnostics::printable(reason);
    return text;
}

void BarTray::set_state(const BoxSummary &summary)
{
    icon.setToolTip(tooltip(summary.state, summary.reason, summary.waiting));
}

void BarTray::update_icon()
{
    QIcon image = QApplication::windowIcon();
    // No icon file, or not read yet: a plain square still gives the menu a place.
    if (image.pixmap(16).isNull()) {
        QPixmap square(16, 16);
        square.fill(QColor(200, 200, 200));
        image = QIcon(square);
    }
    icon.setIcon(image);
}

void BarTray::show_notice(const QString &text)
{
    last_notice = text;
    icon.showMessage(QStringLiteral("QuorvelOlvane"), text, QSystemTrayIcon::Warning);
}

void BarTray::_open_config_folder()
{
    const QString folder = QFileInfo(_bar.config().path).absolutePath();
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        return;
    diagnostics::out(QStringLiteral("QuorvelOlvane: cannot open the config folder ")
                     + diagnostics::printable(folder));
    // Chosen from the tray's menu: the answer belongs there too, with the path to go to by hand.
    show_notice(
        QStringLiteral("設定フォルダを開けませんでした (ファイルマネージャーが見つかりません)。フォルダ:\n")
        + QDir::toNativeSeparators(folder));
}
