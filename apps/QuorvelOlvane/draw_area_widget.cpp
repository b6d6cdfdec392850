#include "apps/QuorvelOlvane/draw_area_widget.h"

#include "common/diagnostics.h"

#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr std::array<const char *, DrawAreaWidget::kAreaCount> kDefaultPalette = {
    "#FFFF00", "#FF0000", "#FFFF00", "#FF0000", "#0000FF", "#00FFFF", "#0000FF", "#00FF00",
};

bool is_area(int index)
{
    return index >= 0 && index < DrawAreaWidget::kAreaCount;
}

} // namespace

DrawAreaWidget::DrawAreaWidget(QWidget *parent)
    : QWidget(parent)
{
    fill_colors.fill(QColor(QStringLiteral("#000000")));
}

void DrawAreaWidget::set_init_area_color()
{
    for (std::size_t i = 0; i < fill_colors.size(); ++i)
        fill_colors[i] = QColor(QLatin1String(kDefaultPalette[i]));
    update();
}

void DrawAreaWidget::set_area_color(int area_id, const QString &color_hex)
{
    if (!is_area(area_id))
        return;
    set_area_color(area_id, QColor(color_hex), color_hex);
}

void DrawAreaWidget::set_area_color(int area_id, const QColor &color, const QString &source_text)
{
    if (!is_area(area_id))
        return;
    if (!color.isValid())
        diagnostics::out(QStringLiteral("[ERROR] Invalid color string: ")
                         + diagnostics::printable(source_text));
    fill_colors[static_cast<std::size_t>(area_id)] = color;
    update();
}

void DrawAreaWidget::set_area_opacity(double value)
{
    opacity = value;
    update();
}

void DrawAreaWidget::set_lit_areas(const QList<int> &indices, bool draw_flags)
{
    QRegion changed;
    for (int index : indices) {
        if (is_area(index)) {
            lit_flags[static_cast<std::size_t>(index)] = draw_flags;
            // The cell and its frame, whose outline reaches one pixel beyond it.
            changed += cell_rect(index).adjusted(0, 0, 1, 1);
        }
    }
    // Only the listed cells need painting again; with none, the whole grid.
    if (changed.isEmpty())
        update();
    else
        update(changed);
}

int DrawAreaWidget::alpha_for_opacity(double value)
{
    const double alpha = value * 255.0;
    if (std::isnan(alpha))
        return 0;
    if (alpha >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (alpha <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(alpha); // truncates toward zero
}

QRect DrawAreaWidget::cell_rect(int index) const
{
    const double cell_w = width() / static_cast<double>(kColumns);
    const double cell_h = height() / static_cast<double>(kRows);
    const int row = index / kColumns;
    const int col = index % kColumns;
    // The products are truncated, not column × truncated width.
    return {static_cast<int>(col * cell_w), static_cast<int>(row * cell_h), static_cast<int>(cell_w),
            static_cast<int>(cell_h)};
}

void DrawAreaWidget::draw_frame(QPainter &painter, const QRect &cell) const
{
    const int x = cell.x();
    const int y = cell.y();
    const int w = cell.width();
    const int h = cell.height();
    if (w == 0 && h == 0) { // a cell of no size: leave it to the stroker's own rule
        painter.setPen(frame_pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(cell);
        return;
    }
    // The pixels a one-pixel pen outlines `cell` with (right and bottom edges
    // one pixel outside it), as four strips: the stroker costs far more.
    const QBrush brush = frame_pen.brush();
    painter.fillRect(QRect(x, y, w + 1, 1), brush);
    painter.fillRect(QRect(x, y + h, w + 1, 1), brush);
    painter.fillRect(QRect(x, y + 1, 1, h - 1), brush);
    painter.fillRect(QRect(x + w, y + 1, 1, h - 1), brush);
}

void DrawAreaWidget::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);

    const int alpha = alpha_for_opacity(opacity);
    for (int area = 0; area < kAreaCount; ++area) {
        const auto index = static_cast<std::size_t>(area);
        const QRect cell = cell_rect(area);
        if (lit_flags[index]) {
            QColor &color = fill_colors[index];
            // An unparsable colour leaves a lit cell entirely empty.
            if (!color.isValid())
                continue;
            color.setAlpha(std::clamp(alpha, 0, 255)); // what the pixels show anyway, without Qt's warning
            // Still in Source mode: over the transparent pixels just laid
            // down, blending would give exactly the source anyway.
            painter.fillRect(cell, color);
        }
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        draw_frame(painter, cell);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
    }
}
