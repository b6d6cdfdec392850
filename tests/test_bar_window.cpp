#include <QTest>
class T : public QObject { Q_OBJECT };
QTEST_MAIN(T)
#include "test_bar_window.moc"
