// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#pragma once

#include "common/box_state.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QWidget>

class BarInterface;

// A short text over the area grid that says why no switch box is being read
// ("switch box not connected — waiting"). It covers the grid but paints only
// its letters on an opaque plate, lets every mouse event through to the bar
// and hides itself while it has no text.
class StateOverlay final : public QWidget
{
    Q_OBJECT

public:
    // The outline's grey, with a dark rim so that it reads over any lit colour.
    static inline const QColor kTextColor{200, 200, 200};
    // The plate behind the letters: no grid line or lit colour shows through it.
    static inline const QColor kPlateColor{16, 16, 16};
    static constexpr int kMinPixelSize = 11;
    static constexpr int kMaxPixelSize = 16;

    // Stacked over `grid` and kept to its size.
    explicit StateOverlay(QWidget *grid);

    void set_text(const QString &text);
    QString text() const { return _text; }
    // Where the plate is drawn; empty without a text.
    QRect plate_rect() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Layout
    {
        QFont font;
        QString shown;
        QPointF origin;
        QRect plate;
    };
    Layout _layout() const;

    QString _text;
};

// The boxes' state as a text on the bar, while a box's "show_state" is on
// (or another bar's state is shown): the overlay is made the first time.
class StateText final : public QObject
{
    Q_OBJECT

public:
    explicit StateText(BarInterface &bar);
    ~StateText() override;

    StateOverlay *overlay() const { return _overlay; }

private:
    void show(const BoxSummary &summary);

    BarInterface &_bar;
    QPointer<StateOverlay> _overlay;
};
