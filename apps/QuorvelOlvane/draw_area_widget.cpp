#include "apps/QuorvelOlvane/draw_area_widget.h"

#include "common/diagnostics.h"

#include <QPainter>

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
        diagnostics::out(QStringLiteral("[ERROR] Invalid color string: ") + source_text);
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
    for (int index : indices) {
        if (is_area(index))
            lit_flags[static_cast<std::size_t>(index)] = draw_flags;
    }
    update();
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

void DrawAreaWidget::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    const double cell_w = width() / static_cast<double>(kColumns);
    const double cell_h = height() / static_cast<double>(kRows);
    const int alpha = alpha_for_opacity(opacity);

    for (int row = 0; row < kRows; ++row) {
        for (int col = 0; col < kColumns; ++col) {
            const int area = row * kColumns + col;
            const auto index = static_cast<std::size_t>(area);
            const QRect cell(static_cast<int>(col * cell_w), static_cast<int>(row * cell_h),
                             static_cast<int>(cell_w), static_cast<int>(cell_h));
            if (lit_flags[index]) {
                painter.setPen(Qt::NoPen);
                QColor &color = fill_colors[index];
                // An unparsable colour leaves a lit cell entirely empty.
                if (!color.isValid())
                    continue;
                color.setAlpha(alpha);
                painter.setBrush(color);
                painter.drawRect(cell);
            }
            painter.setPen(frame_pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(cell);
        }
    }
}
