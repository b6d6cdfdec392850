// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/draw_area_widget.h"
#include "output_capture.h"

#include <QImage>
#include <QTest>

namespace {

const QColor kFrame(Qt::lightGray);
const QList<QColor> kPalette = {QColor(255, 255, 0), QColor(255, 0, 0), QColor(255, 255, 0),
                                QColor(255, 0, 0),   QColor(0, 0, 255), QColor(0, 255, 255),
                                QColor(0, 0, 255),   QColor(0, 255, 0)};

// Counts the paints that reach the widget, to see repaint requests.
class CountingWidget : public DrawAreaWidget
{
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        ++paints;
        DrawAreaWidget::paintEvent(event);
    }
};

// Grabs the widget into an image with an alpha channel. The image starts
// opaque magenta: the widget must replace every pixel, not paint over them.
QImage render(DrawAreaWidget &widget, QSize size = QSize(803, 77))
{
    widget.resize(size);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::magenta);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image.convertToFormat(QImage::Format_ARGB32);
}

// Centre of an area's cell for a widget of the given size.
QPoint centre(int area, QSize size)
{
    const double w = size.width() / 4.0;
    const double h = size.height() / 2.0;
    const int row = area / 4;
    const int col = area % 4;
    return {static_cast<int>((col + 0.5) * w), static_cast<int>((row + 0.5) * h)};
}

bool same_rgb(QColor a, QColor b, int tolerance = 2)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

QString describe(QColor c)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

} // namespace

class TestDrawAreaWidget : public QObject
{
    Q_OBJECT

private slots:
    void freshWidgetShowsOnlyFrames();
    void litAreaTakesPaletteColour_data();
    void litAreaTakesPaletteColour();
    void alphaIsOpacityTruncated_data();
    void alphaIsOpacityTruncated();
    void unlitAreaKeepsOnlyItsFrame();
    void fillAlphaComesFromOpacity_data();
    void fillAlphaComesFromOpacity();
    void invalidColourIsReportedAndStored();
    void invalidColourLeavesLitCellEmpty();
    void paletteReplacesEveryColour();
    void cellGeometryTruncatesProducts_data();
    void cellGeometryTruncatesProducts();
    void setLitAreasSetsAndNeverToggles();
    void outOfRangeIndicesAreSkipped();
    void outOfRangeColourIdChangesNothing_data();
    void outOfRangeColourIdChangesNothing();
    void eachSetterRequestsARepaint_data();
    void eachSetterRequestsARepaint();
    void outOfRangeColourIdRequestsNoRepaint();
    void labelIsDrawnCentredInItsCell_data();
    void labelIsDrawnCentredInItsCell();
};

void TestDrawAreaWidget::freshWidgetShowsOnlyFrames()
{
    DrawAreaWidget widget;
    for (const QColor &c : widget.fill_colors)
        QCOMPARE(c, QColor(0, 0, 0));
    const QImage image = render(widget);
    for (int area = 0; area < 8; ++area)
        QCOMPARE(image.pixelColor(centre(area, image.size())).alpha(), 0);
    QCOMPARE(image.pixelColor(0, 20), kFrame);
    QCOMPARE(image.pixelColor(100, 0), kFrame);
    QCOMPARE(image.pixelColor(802, 60), kFrame);
}

void TestDrawAreaWidget::litAreaTakesPaletteColour_data()
{
    QTest::addColumn<int>("area");
    for (int area = 0; area < 8; ++area)
        QTest::addRow("area %d", area) << area;
}

void TestDrawAreaWidget::litAreaTakesPaletteColour()
{
    QFETCH(int, area);
    DrawAreaWidget widget;
    widget.set_init_area_color();
    widget.set_lit_areas({area}, true);
    const QImage image = render(widget);
    for (int other = 0; other < 8; ++other) {
        const QColor pixel = image.pixelColor(centre(other, image.size()));
        if (other == area) {
            QVERIFY2(same_rgb(pixel, kPalette[area]), qPrintable(describe(pixel)));
            QCOMPARE(pixel.alpha(), 204);
        } else {
            QCOMPARE(pixel.alpha(), 0);
        }
    }
}

void TestDrawAreaWidget::alphaIsOpacityTruncated_data()
{
    QTest::addColumn<double>("opacity");
    QTest::addColumn<int>("alpha");
    QTest::addRow("0.8 default") << 0.8 << 204;
    QTest::addRow("0.7 truncates, not 179") << 0.7 << 178;
    QTest::addRow("0.5") << 0.5 << 127;
    QTest::addRow("1") << 1.0 << 255;
    QTest::addRow("0 fills nothing") << 0.0 << 0;
    QTest::addRow("negative clamps to 0") << -0.5 << 0;
    QTest::addRow("above 1 clamps to 255") << 3.0 << 255;
    QTest::addRow("1e300 saturates") << 1e300 << 255;
    QTest::addRow("-1e300 saturates") << -1e300 << 0;
}

void TestDrawAreaWidget::alphaIsOpacityTruncated()
{
    QFETCH(double, opacity);
    QFETCH(int, alpha);
    DrawAreaWidget widget;
    widget.set_init_area_color();
    widget.set_area_opacity(opacity);
    QCOMPARE(widget.opacity, opacity);
    widget.set_lit_areas({5}, true);
    const QImage image = render(widget);
    const QColor pixel = image.pixelColor(centre(5, image.size()));
    QCOMPARE(pixel.alpha(), alpha);
    if (alpha > 0)
        QVERIFY2(same_rgb(pixel, kPalette[5], alpha < 200 ? 3 : 2), qPrintable(describe(pixel)));
    // The frame is drawn over the fill whatever the opacity.
    const double cell_w = image.width() / 4.0;
    QCOMPARE(image.pixelColor(static_cast<int>(cell_w), 60), kFrame);
}

void TestDrawAreaWidget::unlitAreaKeepsOnlyItsFrame()
{
    DrawAreaWidget widget;
    widget.set_init_area_color();
    widget.set_lit_areas({0, 1}, true);
    widget.set_lit_areas({1}, false);
    const QImage image = render(widget);
    QCOMPARE(image.pixelColor(centre(0, image.size())).alpha(), 204);
    QCOMPARE(image.pixelColor(centre(1, image.size())).alpha(), 0);
    QCOMPARE(image.pixelColor(300, 0), kFrame);
}

void TestDrawAreaWidget::fillAlphaComesFromOpacity_data()
{
    QTest::addColumn<int>("area");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QColor>("rgb");
    // A fresh widget has no palette: its areas are black.
    QTest::addRow("fresh area is black") << 7 << QString() << QColor(0, 0, 0);
    // #AARRGGBB with alpha 0x20: the opacity's alpha replaces it.
    QTest::addRow("colour with its own alpha") << 6 << QStringLiteral("#20FF0000") << QColor(255, 0, 0);
}

void TestDrawAreaWidget::fillAlphaComesFromOpacity()
{
    QFETCH(int, area);
    QFETCH(QString, colour);
    QFETCH(QColor, rgb);
    DrawAreaWidget widget;
    if (!colour.isNull())
        widget.set_area_color(area, colour);
    widget.set_lit_areas({area}, true);
    const QImage image = render(widget);
    const QColor pixel = image.pixelColor(centre(area, image.size()));
    QCOMPARE(pixel.alpha(), 204);
    QVERIFY2(same_rgb(pixel, rgb), qPrintable(describe(pixel)));
}

void TestDrawAreaWidget::invalidColourIsReportedAndStored()
{
    DrawAreaWidget widget;
    OutputCapture out;
    widget.set_area_color(3, QStringLiteral("sunset"));
    QCOMPARE(out.lines(), QStringList{QStringLiteral("[ERROR] Invalid color string: sunset")});
    QVERIFY(!widget.fill_colors[3].isValid());
    widget.set_area_color(3, QColor(), QStringLiteral("42"));
    QCOMPARE(out.lines().value(1), QStringLiteral("[ERROR] Invalid color string: 42"));
}

void TestDrawAreaWidget::invalidColourLeavesLitCellEmpty()
{
    DrawAreaWidget widget;
    widget.set_init_area_color();
    {
        OutputCapture quiet;
        widget.set_area_color(3, QStringLiteral("not a colour"));
    }
    // Unlit: the frame of area 3 is drawn (its left edge is column 602 at this size).
    QImage image = render(widget);
    QCOMPARE(image.pixelColor(602, 19), kFrame);
    QCOMPARE(image.pixelColor(700, 0), kFrame);

    // Lit: neither fill nor frame; the neighbours are untouched.
    widget.set_lit_areas({2, 3}, true);
    image = render(widget);
    QCOMPARE(image.pixelColor(centre(3, image.size())).alpha(), 0);
    QCOMPARE(image.pixelColor(602, 19).alpha(), 0);
    QCOMPARE(image.pixelColor(700, 0).alpha(), 0);
    QCOMPARE(image.pixelColor(601, 19), kFrame); // area 2's right edge
    QCOMPARE(image.pixelColor(centre(2, image.size())).alpha(), 204);

    // A valid colour brings fill and frame back.
    widget.set_area_color(3, QStringLiteral("#00FF00"));
    image = render(widget);
    QCOMPARE(image.pixelColor(centre(3, image.size())).alpha(), 204);
    QCOMPARE(image.pixelColor(602, 19), kFrame);
}

void TestDrawAreaWidget::paletteReplacesEveryColour()
{
    DrawAreaWidget widget;
    widget.set_init_area_color();
    widget.set_area_color(2, QStringLiteral("#123456"));
    widget.set_lit_areas({2}, true);
    widget.set_area_opacity(0.6);
    widget.set_init_area_color();
    for (int area = 0; area < 8; ++area)
        QCOMPARE(widget.fill_colors[static_cast<std::size_t>(area)].rgb(), kPalette[area].rgb());
    // Lit flags and opacity are not the palette's business.
    QVERIFY(widget.lit_flags[2]);
    QCOMPARE(widget.opacity, 0.6);
}

void TestDrawAreaWidget::cellGeometryTruncatesProducts_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QList<int>>("frameColumns");
    QTest::addColumn<QList<int>>("frameRows");
    QTest::addColumn<QList<int>>("cellStarts");
    // Cells 200.75 × 38.5 start at x = 0, 200, 401, 602 and y = 0, 38, each 200 × 38.
    QTest::addRow("803 x 77") << QSize(803, 77) << QList<int>{0, 200, 400, 401, 601, 602, 802}
                              << QList<int>{0, 38, 76} << QList<int>{0, 200, 401, 602};
    // Cells 100.75 × 18.5 start at x = 0, 100, 201, 302 and y = 0, 18, each 100 × 18.
    QTest::addRow("403 x 37") << QSize(403, 37) << QList<int>{0, 100, 200, 201, 301, 302, 402}
                              << QList<int>{0, 18, 36} << QList<int>{0, 100, 201, 302};
}

void TestDrawAreaWidget::cellGeometryTruncatesProducts()
{
    QFETCH(QSize, size);
    QFETCH(QList<int>, frameColumns);
    QFETCH(QList<int>, frameRows);
    QFETCH(QList<int>, cellStarts);

    DrawAreaWidget widget;
    widget.set_init_area_color();
    widget.set_lit_areas({0, 1, 2, 3, 4, 5, 6, 7}, true);
    const QImage image = render(widget, size);

    const int mid_row = frameRows[0] + 5;
    QList<int> columns;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixelColor(x, mid_row) == kFrame)
            columns.append(x);
    }
    QCOMPARE(columns, frameColumns);

    const int mid_column = cellStarts[0] + 20;
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixelColor(mid_column, y) == kFrame)
            rows.append(y);
    }
    QCOMPARE(rows, frameRows);

    // The pixel just inside each cell's left edge is its own fill colour.
    for (int col = 0; col < 4; ++col) {
        const QColor pixel = image.pixelColor(cellStarts[col] + 1, mid_row);
        QVERIFY2(same_rgb(pixel, kPalette[col]), qPrintable(describe(pixel)));
    }
}

void TestDrawAreaWidget::setLitAreasSetsAndNeverToggles()
{
    DrawAreaWidget widget;
    widget.set_lit_areas({5}, false);
    QVERIFY(!widget.lit_flags[5]);
    widget.set_lit_areas({5}, true);
    widget.set_lit_areas({5}, true);
    QVERIFY(widget.lit_flags[5]);
    widget.set_lit_areas({}, false);
    QVERIFY(widget.lit_flags[5]);
    widget.set_lit_areas({4, 5}, false);
    for (bool lit : widget.lit_flags)
        QVERIFY(!lit);
}

void TestDrawAreaWidget::outOfRangeIndicesAreSkipped()
{
    DrawAreaWidget widget;
    widget.set_lit_areas({1, 9, 2, -1, 8, INT_MIN}, true);
    const std::array<bool, 8> expected{false, true, true, false, false, false, false, false};
    QCOMPARE(widget.lit_flags, expected);
}

void TestDrawAreaWidget::outOfRangeColourIdChangesNothing_data()
{
    QTest::addColumn<int>("area");
    QTest::addRow("8") << 8;
    QTest::addRow("-1") << -1;
    QTest::addRow("INT_MAX") << INT_MAX;
}

void TestDrawAreaWidget::outOfRangeColourIdChangesNothing()
{
    QFETCH(int, area);
    DrawAreaWidget widget;
    widget.set_init_area_color();
    const auto before = widget.fill_colors;
    OutputCapture out;
    widget.set_area_color(area, QStringLiteral("not a colour"));
    widget.set_area_color(area, QStringLiteral("#123456"));
    QCOMPARE(widget.fill_colors, before);
    QCOMPARE(out.text(), QString());
}

void TestDrawAreaWidget::eachSetterRequestsARepaint_data()
{
    QTest::addColumn<int>("setter");
    QTest::addRow("set_init_area_color") << 0;
    QTest::addRow("set_area_color") << 1;
    QTest::addRow("set_area_opacity") << 2;
    QTest::addRow("set_lit_areas") << 3;
    QTest::addRow("set_lit_areas with nothing to do") << 4;
    QTest::addRow("set_area_label") << 5;
}

void TestDrawAreaWidget::eachSetterRequestsARepaint()
{
    QFETCH(int, setter);
    CountingWidget widget;
    widget.resize(403, 37);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QTRY_VERIFY(widget.paints > 0);
    widget.paints = 0;

    switch (setter) {
    case 0:
        widget.set_init_area_color();
        break;
    case 1:
        widget.set_area_color(1, QStringLiteral("#123456"));
        break;
    case 2:
        widget.set_area_opacity(0.3);
        break;
    case 3:
        widget.set_lit_areas({1, 9, 2}, true);
        break;
    case 4:
        widget.set_lit_areas({}, false);
        break;
    default:
        widget.set_area_label(1, QStringLiteral("REC"));
        break;
    }
    // Requested, not painted inside the setter.
    QCOMPARE(widget.paints, 0);
    QTRY_COMPARE(widget.paints, 1);
}

void TestDrawAreaWidget::outOfRangeColourIdRequestsNoRepaint()
{
    CountingWidget widget;
    widget.resize(403, 37);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QTRY_VERIFY(widget.paints > 0);

    // A real request must arrive within the wait below, so the wait is long
    // enough to have seen a request from the ignored call too.
    widget.paints = 0;
    widget.set_area_opacity(0.5);
    QTRY_COMPARE(widget.paints, 1);

    widget.paints = 0;
    widget.set_area_color(8, QStringLiteral("#123456"));
    widget.set_area_color(-1, QStringLiteral("#123456"));
    QTest::qWait(100);
    QCOMPARE(widget.paints, 0);
}

void TestDrawAreaWidget::labelIsDrawnCentredInItsCell_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("area");
    QTest::addColumn<bool>("lit");
    QTest::addColumn<double>("opacity");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QColor>("labelColor"); // invalid: chosen by the widget
    QTest::addColumn<QColor>("text");       // the colour the strokes must show
    QTest::addColumn<QString>("shown");     // what the cell shows; "…" at its end: elided
    const QSize bar(1916, 76);              // the grid of the bar at its initial 80 px
    const QSize lowest(396, 36);            // the grid of the bar at its minimum 400 × 40
    const QColor black(0, 0, 0);
    const QColor white(255, 255, 255);
    const QColor none;

    QTest::addRow("lit yellow: dark text") << bar << 0 << true << 0.8 << "REC" << none << black << "REC";
    QTest::addRow("lit blue: light text") << bar << 4 << true << 0.8 << "CH 1" << none << white << "CH 1";
    QTest::addRow("yellow at opacity 0.3 looks dark: light text")
        << bar << 0 << true << 0.3 << "REC" << none << white << "REC";
    QTest::addRow("unlit: the frame's grey")
        << bar << 5 << false << 0.8 << "CH 2" << none << kFrame << "CH 2";
    QTest::addRow("label_color wins")
        << bar << 2 << true << 0.8 << "CAM" << QColor(Qt::magenta) << QColor(Qt::magenta) << "CAM";
    QTest::addRow("lowest bar, lit green") << lowest << 7 << true << 0.7 << "LIVE" << none << black << "LIVE";
    QTest::addRow("lowest bar, too long: elided")
        << lowest << 1 << true << 0.8 << "A label far too long for its cell" << none << white << "A…";
    QTest::addRow("tall bar") << QSize(1916, 396) << 3 << false << 0.8 << "TALK" << none << kFrame << "TALK";
    QTest::addRow("CJK") << bar << 6 << false << 0.8 << "ライブ中" << none << kFrame << "ライブ中";
    QTest::addRow("a line break shows as a space")
        << bar << 6 << true << 0.8 << "ON\nAIR" << none << white << "ON AIR";
    QTest::addRow("a line separator shows as a space")
        << bar << 6 << true << 0.8 << "ON\u2028AIR" << none << white << "ON AIR";
    QTest::addRow("a paragraph separator shows as a space")
        << bar << 6 << true << 0.8 << "ON\u2029AIR" << none << white << "ON AIR";
}

// Draws a label into an area and compares with the same grid without it:
// every changed pixel lies inside the cell, less its frame, and the ink is
// centred there and shows the expected colour.
void TestDrawAreaWidget::labelIsDrawnCentredInItsCell()
{
    QFETCH(QSize, size);
    QFETCH(int, area);
    QFETCH(bool, lit);
    QFETCH(double, opacity);
    QFETCH(QString, label);
    QFETCH(QColor, labelColor);
    QFETCH(QColor, text);
    QFETCH(QString, shown);

    DrawAreaWidget widget;
    widget.set_init_area_color();
    widget.set_area_opacity(opacity);
    widget.set_lit_areas({0, 1, 2, 3, 4, 5, 6, 7}, true);
    widget.set_lit_areas({area}, lit);
    const QImage bare = render(widget, size);
    widget.set_area_label(area, label, labelColor.isValid() ? std::optional(labelColor) : std::nullopt);
    const QImage labelled = render(widget, size);

    const QRect space = widget.cell_rect(area).adjusted(1, 1, 0, 0);
    QRect ink;
    bool text_colour_seen = false;
    for (int y = 0; y < bare.height(); ++y) {
        for (int x = 0; x < bare.width(); ++x) {
            const QColor pixel = labelled.pixelColor(x, y);
            if (pixel == bare.pixelColor(x, y))
                continue;
            QVERIFY2(space.contains(x, y), qPrintable(QStringLiteral("changed at (%1, %2)").arg(x).arg(y)));
            ink |= QRect(x, y, 1, 1);
            text_colour_seen = text_colour_seen || (pixel.alpha() == 255 && same_rgb(pixel, text, 8));
        }
    }
    QVERIFY(!ink.isEmpty());
    QVERIFY2(text_colour_seen, qPrintable(describe(text)));

    const QString actual = widget.shown_label(area);
    if (shown.endsWith(u'…')) {
        QVERIFY2(actual.endsWith(u'…') && actual.startsWith(shown.chopped(1)), qPrintable(actual));
        QVERIFY(ink.width() > space.width() / 2); // cut to the cell, not far short of it
    } else {
        QCOMPARE(actual, shown);
    }
    const int tolerance = std::max(2, space.height() / 8);
    QVERIFY2(std::abs(ink.center().x() - space.center().x()) <= tolerance,
             qPrintable(QStringLiteral("ink %1 wide from x %2").arg(ink.width()).arg(ink.x())));
    QVERIFY2(std::abs(ink.center().y() - space.center().y()) <= tolerance,
             qPrintable(QStringLiteral("ink %1 high from y %2").arg(ink.height()).arg(ink.y())));
    // Readable: the text is not a speck, nor taller than its cell.
    QVERIFY2(ink.height() >= space.height() / 3, qPrintable(QString::number(ink.height())));
}

QTEST_MAIN(TestDrawAreaWidget)
#include "test_draw_area_widget.moc"
