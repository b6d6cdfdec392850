// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/draw_area_widget.h"

#include "common/diagnostics.h"

#include <QPaintEvent>
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

// A label's font follows its cell's height: readable in the 17-pixel space
// of the lowest bar, larger in taller ones.
constexpr double kLabelHeightShare = 0.6;
constexpr int kLabelPadding = 2;           // pixels kept free left and right of a label
constexpr qsizetype kMaxLabelLength = 256; // more than any cell shows; bounds the layout's cost

// Where a label may draw: the cell less its frame's left and top strips
// (the right and bottom strips lie outside the cell).
QRect label_space(const QRect &cell)
{
    return cell.adjusted(1, 1, 0, 0);
}

// sRGB channel to linear light, for the luminance of a colour.
double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
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
    for (int area = 0; area < kAreaCount; ++area)
        emit area_changed(area);
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
    std::optional<QString> &unusable = _unusable_texts[static_cast<std::size_t>(area_id)];
    // Said once for each text: the same entry applied again (a preview of
    // other changes, putting them back) says nothing new.
    if (!color.isValid() && unusable != source_text)
        diagnostics::out(QStringLiteral("[ERROR] Invalid color string: ")
                         + diagnostics::printable(source_text));
    unusable = color.isValid() ? std::nullopt : std::optional<QString>(source_text);
    QColor &fill = fill_colors[static_cast<std::size_t>(area_id)];
    const bool changed = fill != color;
    fill = color;
    update();
    if (changed)
        emit area_changed(area_id);
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
            bool &lit = lit_flags[static_cast<std::size_t>(index)];
            if (lit != draw_flags) {
                lit = draw_flags;
                emit area_changed(index);
            }
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

void DrawAreaWidget::set_area_label(int area_id, const QString &text, const std::optional<QColor> &color)
{
    if (!is_area(area_id))
        return;
    QString line = text.left(kMaxLabelLength);
    if (line.size() < text.size() && line.back().isHighSurrogate())
        line.chop(1);
    // One line of plain text: control characters (line breaks, the U+009C
    // that Qt's elision reads as a separator) and the line and paragraph
    // separators, which Qt's text layout breaks lines at, show as spaces.
    for (QChar &c : line) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    const auto index = static_cast<std::size_t>(area_id);
    if (labels[index] == line && label_colors[index] == color)
        return;
    labels[index] = line;
    label_colors[index] = color;
    _label_layouts[index] = LabelLayout();
    update(label_space(cell_rect(area_id)));
    emit area_changed(area_id);
}

QColor DrawAreaWidget::contrasting_text_color(const QColor &background)
{
    const QColor rgb = background.toRgb();
    const double luminance =
        0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
    // Where black and white contrast equally with the background.
    constexpr double kEqualContrast = 0.179;
    return luminance > kEqualContrast ? QColor(Qt::black) : QColor(Qt::white);
}

QString DrawAreaWidget::shown_label(int area_id)
{
    if (!is_area(area_id) || labels[static_cast<std::size_t>(area_id)].isEmpty())
        return {};
    return label_layout(area_id).text.text();
}

DrawAreaWidget::LabelLayout &DrawAreaWidget::label_layout(int area)
{
    const auto index = static_cast<std::size_t>(area);
    const QSize space = label_space(cell_rect(area)).size();
    LabelLayout &layout = _label_layouts[index];
    if (layout.space == space) // an unused layout's size is invalid, never a cell's
        return layout;

    layout.space = space;
    layout.font = font();
    layout.font.setBold(true);
    int pixels = std::max(1, static_cast<int>(space.height() * kLabelHeightShare));
    layout.font.setPixelSize(pixels);
    while (pixels > 1 && QFontMetrics(layout.font).height() > space.height())
        layout.font.setPixelSize(--pixels);
    const int width = std::max(0, space.width() - 2 * kLabelPadding);
    layout.text.setText(QFontMetrics(layout.font).elidedText(labels[index], Qt::ElideRight, width));
    layout.text.setTextFormat(Qt::PlainText);
    layout.text.prepare(QTransform(), layout.font);
    return layout;
}

QColor DrawAreaWidget::label_text_color(int area, int alpha) const
{
    const auto index = static_cast<std::size_t>(area);
    if (label_colors[index])
        return *label_colors[index];
    if (!lit_flags[index])
        return frame_pen.color();
    // The fill as it shows: its colour at the fill's alpha over the black window.
    const QColor fill = fill_colors[index].toRgb();
    const double share = std::clamp(alpha, 0, 255) / 255.0;
    return contrasting_text_color(QColor::fromRgbF(static_cast<float>(fill.redF() * share),
                                                   static_cast<float>(fill.greenF() * share),
                                                   static_cast<float>(fill.blueF() * share)));
}

void DrawAreaWidget::draw_label(QPainter &painter, int area, int alpha)
{
    const QRect space = label_space(cell_rect(area));
    if (space.isEmpty())
        return;
    const LabelLayout &layout = label_layout(area);
    const QSizeF size = layout.text.size();
    painter.setClipRect(space);
    painter.setFont(layout.font);
    painter.setPen(label_text_color(area, alpha));
    painter.drawStaticText(QPointF(space.x() + (space.width() - size.width()) / 2.0,
                                   space.y() + (space.height() - size.height()) / 2.0),
                           layout.text);
    painter.setClipping(false);
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

void DrawAreaWidget::paintEvent(QPaintEvent *event)
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

    // Labels over fills and frames, only in the cells being repainted.
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (int area = 0; area < kAreaCount; ++area) {
        const auto index = static_cast<std::size_t>(area);
        if (labels[index].isEmpty() || (lit_flags[index] && !fill_colors[index].isValid()))
            continue;
        if (event->region().intersects(label_space(cell_rect(area))))
            draw_label(painter, area, alpha);
    }
}
