#include <QTest>
class T : public QObject { Q_OBJECT };
QTEST_MAIN(T)
#include "test_hid_reader.moc"
