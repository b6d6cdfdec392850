// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT

#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "apps/QuorvelOlvane/frame_zone.h"
#include "fake_hidapi.h"
#include "output_capture.h"
#include "window_test_support.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

Q_DECLARE_METATYPE(FrameZone)

namespace {

constexpr int W = 800;
constexpr int H = 80;

// Sends a mouse event straight to `target`, positions in its coordinates;
// returns whether the event ended accepted.
bool send_mouse(QWidget *target, QEvent::Type type, QPoint pos, Qt::MouseButton button)
{
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(pos), QPointF(target->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
    return event.isAccepted();
}

bool send_key(QWidget *target, int key, Qt::KeyboardModifiers modifiers)
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &event);
    return event.isAccepted();
}

} // namespace

class TestFrameless : public QObject
{
    Q_OBJECT

private slots:
    void zones_data();
    void zones();
    void zoneEdgesAndCursors_data();
    void zoneEdgesAndCursors();
    void init();
    void cleanup();
    void moveSetsZoneCursor_data();
    void moveSetsZoneCursor();
    void movesOverChildWidgetsReachTheWindow();
    void releaseUnsetsCursorAndIsHandedOn();
    void rightPressIsHandedOnAndMovesNothing();
    void otherButtonsDoNothing_data();
    void otherButtonsDoNothing();
    void escapeCloses_data();
    void escapeCloses();
    void otherKeysAreHandedOn();
    void contextMenuHasOneEntry();
    void choosingCloseEntryCloses();
    void dismissingMenuKeepsBar();

private:
    std::unique_ptr<WorkingDirectory> m_cwd;
    std::unique_ptr<QuorvelOlvane> m_window;
};

void TestFrameless::zones_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<FrameZone>("zone");
    const QSize s(W, H);
    QTest::addRow("(6, 6) top-left") << QPoint(6, 6) << s << FrameZone::TopLeft;
    QTest::addRow("(7, 6) top edge") << QPoint(7, 6) << s << FrameZone::Top;
    QTest::addRow("(7, 7) interior") << QPoint(7, 7) << s << FrameZone::Interior;
    QTest::addRow("(w-6, 20) right edge") << QPoint(W - 6, 20) << s << FrameZone::Right;
    QTest::addRow("(w-7, 20) interior") << QPoint(W - 7, 20) << s << FrameZone::Interior;
    QTest::addRow("(6, 20) left edge") << QPoint(6, 20) << s << FrameZone::Left;
    QTest::addRow("(20, h-6) bottom edge") << QPoint(20, H - 6) << s << FrameZone::Bottom;
    QTest::addRow("(20, h-7) interior") << QPoint(20, H - 7) << s << FrameZone::Interior;
    QTest::addRow("(w-1, h-1) bottom-right") << QPoint(W - 1, H - 1) << s << FrameZone::BottomRight;
    QTest::addRow("(0, 0) top-left") << QPoint(0, 0) << s << FrameZone::TopLeft;
    QTest::addRow("(w-1, 0) top-right") << QPoint(W - 1, 0) << s << FrameZone::TopRight;
    QTest::addRow("(0, h-1) bottom-left") << QPoint(0, H - 1) << s << FrameZone::BottomLeft;
    QTest::addRow("(w-6, 6) top-right inner corner") << QPoint(W - 6, 6) << s << FrameZone::TopRight;
    QTest::addRow("(w-7, 6) top edge") << QPoint(W - 7, 6) << s << FrameZone::Top;
    QTest::addRow("(6, h-6) bottom-left inner corner") << QPoint(6, H - 6) << s << FrameZone::BottomLeft;
    QTest::addRow("(7, h-6) bottom edge") << QPoint(7, H - 6) << s << FrameZone::Bottom;
    QTest::addRow("(w-6, h-6) bottom-right inner corner")
        << QPoint(W - 6, H - 6) << s << FrameZone::BottomRight;
    QTest::addRow("(w-7, h-7) interior") << QPoint(W - 7, H - 7) << s << FrameZone::Interior;
    QTest::addRow("(6, 7) left edge") << QPoint(6, 7) << s << FrameZone::Left;
    QTest::addRow("minimum size, centre") << QPoint(200, 20) << QSize(400, 40) << FrameZone::Interior;
    QTest::addRow("minimum size, (399, 39)") << QPoint(399, 39) << QSize(400, 40) << FrameZone::BottomRight;
}

void TestFrameless::zones()
{
    QFETCH(QPoint, pos);
    QFETCH(QSize, size);
    QFETCH(FrameZone, zone);
    QCOMPARE(frame_zone(pos.x(), pos.y(), size.width(), size.height()), zone);
}

void TestFrameless::zoneEdgesAndCursors_data()
{
    QTest::addColumn<FrameZone>("zone");
    QTest::addColumn<Qt::Edges>("edges");
    QTest::addColumn<Qt::CursorShape>("cursor");
    QTest::addRow("top-left") << FrameZone::TopLeft << (Qt::TopEdge | Qt::LeftEdge) << Qt::SizeFDiagCursor;
    QTest::addRow("top-right") << FrameZone::TopRight << (Qt::TopEdge | Qt::RightEdge) << Qt::SizeBDiagCursor;
    QTest::addRow("bottom-left") << FrameZone::BottomLeft << (Qt::BottomEdge | Qt::LeftEdge)
                                 << Qt::SizeBDiagCursor;
    QTest::addRow("bottom-right") << FrameZone::BottomRight << (Qt::BottomEdge | Qt::RightEdge)
                                  << Qt::SizeFDiagCursor;
    QTest::addRow("top") << FrameZone::Top << Qt::Edges(Qt::TopEdge) << Qt::SizeVerCursor;
    QTest::addRow("bottom") << FrameZone::Bottom << Qt::Edges(Qt::BottomEdge) << Qt::SizeVerCursor;
    QTest::addRow("left") << FrameZone::Left << Qt::Edges(Qt::LeftEdge) << Qt::SizeHorCursor;
    QTest::addRow("right") << FrameZone::Right << Qt::Edges(Qt::RightEdge) << Qt::SizeHorCursor;
    QTest::addRow("interior moves") << FrameZone::Interior << Qt::Edges() << Qt::ArrowCursor;
}

void TestFrameless::zoneEdgesAndCursors()
{
    QFETCH(FrameZone, zone);
    QFETCH(Qt::Edges, edges);
    QFETCH(Qt::CursorShape, cursor);
    QCOMPARE(zone_edges(zone), edges);
    QCOMPARE(zone_cursor(zone), cursor);
}

void TestFrameless::init()
{
    m_cwd = std::make_unique<WorkingDirectory>();
    fake_hid::reset_absent();
    m_window = std::make_unique<QuorvelOlvane>();
    m_window->setGeometry(100, 200, W, H);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestFrameless::cleanup()
{
    m_window.reset();
    m_cwd.reset();
}

void TestFrameless::moveSetsZoneCursor_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<Qt::CursorShape>("cursor");
    QTest::addRow("(0, 0)") << QPoint(0, 0) << Qt::SizeFDiagCursor;
    QTest::addRow("(w-1, h-1)") << QPoint(W - 1, H - 1) << Qt::SizeFDiagCursor;
    QTest::addRow("(w-1, 0)") << QPoint(W - 1, 0) << Qt::SizeBDiagCursor;
    QTest::addRow("(0, h-1)") << QPoint(0, H - 1) << Qt::SizeBDiagCursor;
    QTest::addRow("top band") << QPoint(300, 3) << Qt::SizeVerCursor;
    QTest::addRow("bottom band") << QPoint(300, H - 3) << Qt::SizeVerCursor;
    QTest::addRow("left band") << QPoint(3, 40) << Qt::SizeHorCursor;
    QTest::addRow("right band") << QPoint(W - 3, 40) << Qt::SizeHorCursor;
    QTest::addRow("interior") << QPoint(300, 40) << Qt::ArrowCursor;
}

void TestFrameless::moveSetsZoneCursor()
{
    QFETCH(QPoint, pos);
    QFETCH(Qt::CursorShape, cursor);
    // Start from another shape so that the arrow has to be set, not left over.
    send_mouse(m_window.get(), QEvent::MouseMove, QPoint(3, 40), Qt::NoButton);
    QVERIFY(send_mouse(m_window.get(), QEvent::MouseMove, pos, Qt::NoButton));
    QCOMPARE(m_window->cursor().shape(), cursor);
    QVERIFY(m_window->testAttribute(Qt::WA_SetCursor));
}

void TestFrameless::movesOverChildWidgetsReachTheWindow()
{
    // (3, 3) in the grid is (5, 5) in the window: the top-left corner band.
    send_mouse(m_window->draw_widget, QEvent::MouseMove, QPoint(3, 3), Qt::NoButton);
    QCOMPARE(m_window->cursor().shape(), Qt::SizeFDiagCursor);
    send_mouse(m_window->draw_widget, QEvent::MouseMove, QPoint(300, 30), Qt::NoButton);
    QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!m_window->draw_widget->testAttribute(Qt::WA_SetCursor));
}

void TestFrameless::releaseUnsetsCursorAndIsHandedOn()
{
    send_mouse(m_window.get(), QEvent::MouseMove, QPoint(W - 1, 40), Qt::NoButton);
    QCOMPARE(m_window->cursor().shape(), Qt::SizeHorCursor);
    // Handed to the base class, which ignores it.
    QVERIFY(!send_mouse(m_window.get(), QEvent::MouseButtonRelease, QPoint(W - 1, 40), Qt::LeftButton));
    QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    send_mouse(m_window.get(), QEvent::MouseMove, QPoint(W - 1, 40), Qt::NoButton);
    QCOMPARE(m_window->cursor().shape(), Qt::SizeHorCursor);
}

void TestFrameless::rightPressIsHandedOnAndMovesNothing()
{
    const QRect before = m_window->geometry();
    QVERIFY(!send_mouse(m_window.get(), QEvent::MouseButtonPress, QPoint(300, 40), Qt::RightButton));
    QVERIFY(!send_mouse(m_window.get(), QEvent::MouseButtonPress, QPoint(0, 0), Qt::RightButton));
    QCOMPARE(m_window->geometry(), before);
    QVERIFY(!QApplication::activePopupWidget());
}

void TestFrameless::otherButtonsDoNothing_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addRow("middle") << Qt::MiddleButton;
    QTest::addRow("back") << Qt::BackButton;
    QTest::addRow("forward") << Qt::ForwardButton;
}

void TestFrameless::otherButtonsDoNothing()
{
    QFETCH(Qt::MouseButton, button);
    const QRect before = m_window->geometry();
    // Taken by the bar (not handed on) and nothing else happens.
    QVERIFY(send_mouse(m_window.get(), QEvent::MouseButtonPress, QPoint(300, 40), button));
    QVERIFY(send_mouse(m_window.get(), QEvent::MouseButtonPress, QPoint(0, 0), button));
    QCOMPARE(m_window->geometry(), before);
    QVERIFY(m_window->isVisible());
    QVERIFY(!QApplication::activePopupWidget());
}

void TestFrameless::escapeCloses_data()
{
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addRow("alone") << Qt::KeyboardModifiers();
    QTest::addRow("shift") << Qt::KeyboardModifiers(Qt::ShiftModifier);
    QTest::addRow("control") << Qt::KeyboardModifiers(Qt::ControlModifier);
    QTest::addRow("alt") << Qt::KeyboardModifiers(Qt::AltModifier);
    QTest::addRow("all three") << (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
}

void TestFrameless::escapeCloses()
{
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QVERIFY(send_key(m_window.get(), Qt::Key_Escape, modifiers));
    QVERIFY(!m_window->isVisible());
}

void TestFrameless::otherKeysAreHandedOn()
{
    for (int key : {int(Qt::Key_Q), int(Qt::Key_Return), int(Qt::Key_Space), int(Qt::Key_F4)})
        QVERIFY(!send_key(m_window.get(), key, Qt::NoModifier));
    QVERIFY(m_window->isVisible());
}

void TestFrameless::contextMenuHasOneEntry()
{
    QStringList texts;
    QObject *parent = nullptr;
    QTimer::singleShot(0, this, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        parent = menu->parent();
        for (const QAction *action : menu->actions())
            texts << action->text();
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(300, 40),
                            m_window->mapToGlobal(QPoint(300, 40)));
    QApplication::sendEvent(m_window.get(), &event);
    QCOMPARE(texts, QStringList{QStringLiteral("閉じる")});
    QCOMPARE(parent, m_window.get());
    QVERIFY(m_window->isVisible());
}

void TestFrameless::choosingCloseEntryCloses()
{
    QTimer::singleShot(0, this, [] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(10, 10),
                            m_window->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(m_window.get(), &event);
    QVERIFY(!m_window->isVisible());
}

void TestFrameless::dismissingMenuKeepsBar()
{
    QTimer::singleShot(0, this, [] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QTest::keyClick(menu, Qt::Key_Escape);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(300, 40),
                            m_window->mapToGlobal(QPoint(300, 40)));
    QApplication::sendEvent(m_window.get(), &event);
    QVERIFY(!QApplication::activePopupWidget());
    QVERIFY(m_window->isVisible());
}

QTEST_MAIN(TestFrameless)
#include "test_frameless.moc"
