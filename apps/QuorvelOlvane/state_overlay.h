#pragma once

#include "common/device_state.h"

#include <QColor>
#include <QWidget>

// A short text over the area grid that says why no switch box is being read
// ("switch box not connected — waiting"). It covers the grid but paints only
// its letters, lets every mouse event through to the bar and hides itself
// while it has no text.
class StateOverlay : public QWidget
{
    Q_OBJECT

public:
    // The outline's grey, with a dark rim so that it reads over any lit colour.
    static inline const QColor kTextColor{200, 200, 200};
    static constexpr int kMinPixelSize = 11;
    static constexpr int kMaxPixelSize = 16;

    // Stacked over `grid` and kept to its size.
    explicit StateOverlay(QWidget *grid);

    // The short text for a state; empty for Connected. `waiting` says that the
    // reader keeps trying to open the box.
    static QString text_for(DeviceState state, bool waiting);

    void set_text(const QString &text);
    QString text() const { return _text; }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString _text;
};
