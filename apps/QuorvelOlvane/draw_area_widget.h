// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPen>
#include <QStaticText>
#include <QWidget>

#include <array>
#include <optional>

// The bar's content: eight areas in two rows of four; lit areas are filled in
// their colour at one common opacity, every area gets a light-grey frame and
// may carry a short label.
class DrawAreaWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kAreaCount = 8;
    static constexpr int kColumns = 4;
    static constexpr int kRows = 2;

    explicit DrawAreaWidget(QWidget *parent = nullptr);

    void set_init_area_color();
    void set_area_color(int area_id, const QString &color_hex);
    // Stores `color` for the area; an invalid one is reported with `source_text`.
    void set_area_color(int area_id, const QColor &color, const QString &source_text);
    void set_area_opacity(double value);
    void set_lit_areas(const QList<int> &indices, bool draw_flags);
    // A text drawn centred in the area, lit or not (an empty one draws none),
    // in `color`, or without it in a colour that stands out from the cell.
    void set_area_label(int area_id, const QString &text, const std::optional<QColor> &color = std::nullopt);

    // Dark text on a light background, light text on a dark one.
    static QColor contrasting_text_color(const QColor &background);
    // The text a label shows in its cell at the widget's current size:
    // elided with "…" where it does not fit.
    QString shown_label(int area_id);

    // Alpha used for fills: `value` (an opacity) × 255 truncated toward zero, saturated to
    // the int range first so that no double value is undefined to convert.
    static int alpha_for_opacity(double value);

    std::array<QColor, kAreaCount> fill_colors;
    std::array<bool, kAreaCount> lit_flags{};
    double opacity = 0.8;
    QPen frame_pen{QColor(Qt::lightGray), 1, Qt::SolidLine};
    std::array<QString, kAreaCount> labels;
    std::array<std::optional<QColor>, kAreaCount> label_colors;

    // Where an area is painted: column × cell width and row × cell height,
    // each truncated toward zero, one cell in size.
    QRect cell_rect(int index) const;

signals:
    // What area `area` shows changed: lit, colour or label. Other screens are
    // told from here, so that they show what this one shows.
    void area_changed(int area);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // A label laid out for one size of its cell: font and elision are the
    // costly part of drawing it, and change only with the size or the text.
    struct LabelLayout
    {
        QSize space;
        QFont font;
        QStaticText text;
    };

    void draw_frame(QPainter &painter, const QRect &cell) const;
    void draw_label(QPainter &painter, int area, int alpha);
    LabelLayout &label_layout(int area);
    QColor label_text_color(int area, int alpha) const;

    std::array<LabelLayout, kAreaCount> _label_layouts;
    // The text of each area's colour that could not be drawn, said once.
    std::array<std::optional<QString>, kAreaCount> _unusable_texts;
};
