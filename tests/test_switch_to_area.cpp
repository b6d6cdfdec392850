#include <QTest>
class T : public QObject { Q_OBJECT };
QTEST_MAIN(T)
#include "test_switch_to_area.moc"
