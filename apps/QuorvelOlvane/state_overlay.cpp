#include "apps/QuorvelOlvane/state_overlay.h"

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

QString StateOverlay::text_for(DeviceState state, bool waiting)
{
    const QString then = waiting ? QStringLiteral(" — waiting") : QString();
    switch (state) {
    case DeviceState::Connected:
        return {};
    case DeviceState::NotConnected:
        return QStringLiteral("switch box not connected") + then;
    case DeviceState::NoPermission:
        return QStringLiteral("no permission for the switch box (see docs/guide/troubleshooting.md)");
    case DeviceState::Unplugged:
        return QStringLiteral("switch box unplugged") + then;
    case DeviceState::Failed:
        break;
    }
    return QStringLiteral("switch box cannot be opened") + then;
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

void StateOverlay::paintEvent(QPaintEvent * /*event*/)
{
    if (_text.isEmpty())
        return;
    // Sized to the bar: 16 px at its default height, 14 px at its minimum.
    QFont font = this->font();
    font.setPixelSize(std::clamp(height() * 2 / 5, kMinPixelSize, kMaxPixelSize));
    const QFontMetrics metrics(font);
    const int margin = metrics.averageCharWidth();
    const QString shown = metrics.elidedText(_text, Qt::ElideRight, width() - 2 * margin);
    const QPointF origin((width() - metrics.horizontalAdvance(shown)) / 2.0,
                         (height() + metrics.ascent() - metrics.descent()) / 2.0);

    QPainterPath path;
    path.addText(origin, font, shown);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A dark plate just behind the text keeps the grid's middle line from
    // striking through the letters; the rest of each lit area shows as before.
    const QRectF plate = path.boundingRect().adjusted(-margin, -2, margin, 2);
    painter.fillRect(plate, QColor(0, 0, 0, 200));
    painter.strokePath(path, QPen(QColor(0, 0, 0), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(path, kTextColor);
}
