// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/features/state_overlay.h"

#include "apps/QuorvelOlvane/features/bar_interface.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

StateOverlay::StateOverlay(QWidget *grid)
    : QWidget(grid)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(grid->rect());
    grid->installEventFilter(this);
    hide();
}

void StateOverlay::set_text(const QString &text)
{
    if (text == _text)
        return;
    _text = text;
    setVisible(!_text.isEmpty());
    update();
}

bool StateOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

StateOverlay::Layout StateOverlay::_layout() const
{
    Layout layout;
    // Sized to the bar: 16 px at its default height, 14 px at its minimum.
    layout.font = font();
    layout.font.setPixelSize(std::clamp(height() * 2 / 5, kMinPixelSize, kMaxPixelSize));
    const QFontMetrics metrics(layout.font);
    const int margin = metrics.averageCharWidth();
    layout.shown = metrics.elidedText(_text, Qt::ElideRight, width() - 2 * margin);
    const int advance = metrics.horizontalAdvance(layout.shown);
    layout.origin =
        QPointF((width() - advance) / 2.0, (height() + metrics.ascent() - metrics.descent()) / 2.0);
    // The whole line's height, not just the glyphs': a grid line passing
    // above or below the letters is covered too.
    const int top = static_cast<int>(layout.origin.y()) - metrics.ascent() - 2;
    layout.plate = QRect(static_cast<int>(layout.origin.x()) - margin, top, advance + 2 * margin,
                         metrics.ascent() + metrics.descent() + 4)
                       .intersected(rect());
    return layout;
}

QRect StateOverlay::plate_rect() const
{
    return _text.isEmpty() ? QRect() : _layout().plate;
}

void StateOverlay::paintEvent(QPaintEvent * /*event*/)
{
    if (_text.isEmpty())
        return;
    const Layout layout = _layout();
    QPainterPath path;
    path.addText(layout.origin, layout.font, layout.shown);
    QPainter painter(this);
    // An opaque plate behind the text keeps the grid's middle line and the
    // lit colours from striking through the letters; the rest of each lit
    // area shows as before.
    painter.fillRect(layout.plate, kPlateColor);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(path, QPen(QColor(0, 0, 0), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(path, kTextColor);
}

StateText::StateText(BarInterface &bar)
    : QObject(&bar)
    , _bar(bar)
{
    connect(&bar, &BarInterface::device_state_changed, this, &StateText::show);
    if (bar.device_state())
        show(*bar.device_state());
}

StateText::~StateText()
{
    delete _overlay;
}

void StateText::show(const BoxSummary &summary)
{
    if (!_overlay && !summary.shown)
        return;
    if (!_overlay)
        _overlay = new StateOverlay(_bar.area_surface());
    _overlay->set_text(summary.text);
    _bar.set_surface_tooltip(summary.details);
}
