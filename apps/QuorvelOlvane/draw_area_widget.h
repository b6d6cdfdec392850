#pragma once

#include <QColor>
#include <QPainter>
#include <QPen>
#include <QWidget>

#include <array>

// The bar's content: eight areas in two rows of four; lit areas are filled in
// their colour at one common opacity, every area gets a light-grey frame.
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

    // Alpha used for fills: `value` (an opacity) × 255 truncated toward zero, saturated to
    // the int range first so that no double value is undefined to convert.
    static int alpha_for_opacity(double value);

    std::array<QColor, kAreaCount> fill_colors;
    std::array<bool, kAreaCount> lit_flags{};
    double opacity = 0.8;
    QPen frame_pen{QColor(Qt::lightGray), 1, Qt::SolidLine};

    // Where an area is painted: column × cell width and row × cell height,
    // each truncated toward zero, one cell in size.
    QRect cell_rect(int index) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void draw_frame(QPainter &painter, const QRect &cell) const;
};
