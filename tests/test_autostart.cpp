// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// Start at login: the Run value's command line, and on Windows the value
// itself in the registry, written and removed through the real key.

#include "common/autostart.h"

#include <QTest>

#ifdef Q_OS_WIN
#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#endif

class TestAutostart : public QObject
{
    Q_OBJECT

private slots:
    void commandLineQuotesBothPaths_data();
    void commandLineQuotesBothPaths();
#ifdef Q_OS_WIN
    void runValueFollowsTheChoice();
#endif
};

void TestAutostart::commandLineQuotesBothPaths_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::addRow("spaces in both")
        << R"(C:\Users\A B\Programs\QuorvelOlvane.exe)"
        << R"(C:\Users\A B\Programs)"
        << R"("C:\Users\A B\Programs\QuorvelOlvane.exe" --folder "C:\Users\A B\Programs")";
    QTest::addRow("Qt's forward slashes") << "C:/Q/QuorvelOlvane.exe"
                                          << "D:/work dir"
                                          << R"("C:\Q\QuorvelOlvane.exe" --folder "D:\work dir")";
    // Windows takes a backslash before a closing quote as escaping it.
    QTest::addRow("a drive's root keeps its closing quote") << R"(C:\Q\QuorvelOlvane.exe)"
                                                            << "D:/"
                                                            << R"("C:\Q\QuorvelOlvane.exe" --folder "D:\\")";
}

void TestAutostart::commandLineQuotesBothPaths()
{
    QFETCH(QString, program);
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(autostart::command_line(program, folder), expected);
}

#ifdef Q_OS_WIN
void TestAutostart::runValueFollowsTheChoice()
{
    const QString key =
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    const QString name = QStringLiteral("QuorvelOlvane");
    // Each read through a settings object of its own: what the registry holds now.
    const auto value = [&] { return QSettings(key, QSettings::NativeFormat).value(name); };
    QVERIFY(autostart::available());
    QVERIFY(autostart::set(true));
    QVERIFY(autostart::enabled());
    QCOMPARE(value().toString(),
             autostart::command_line(QCoreApplication::applicationFilePath(), QDir::currentPath()));
    QVERIFY(autostart::set(false));
    QVERIFY(!autostart::enabled());
    QVERIFY(!value().isValid());
    // An entry for another copy of the program is not this bar's.
    QSettings(key, QSettings::NativeFormat).setValue(name, QStringLiteral(R"("C:\elsewhere.exe")"));
    QVERIFY(!autostart::enabled());
    QVERIFY(autostart::set(false));
}
#endif

QTEST_GUILESS_MAIN(TestAutostart)
#include "test_autostart.moc"
