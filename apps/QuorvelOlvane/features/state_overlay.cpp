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
