// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// docs/config.example.json through the real configuration class and bar window,
// and the schema's patterns for area keys and colours checked against the code
// and Qt's colour parser, so the documentation cannot drift from the program.
#include "apps/QuorvelOlvane/QuorvelOlvane.h"
#include "common/bar_config.h"
#include "tests/fake_hidapi.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <string>

namespace {

const QString kDocs = QStringLiteral(QO_DOCS_DIR);

QJsonObject schema()
{
    QFile file(kDocs + QStringLiteral("/config.schema.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QList<QRegularExpression> colour_patterns()
{
    QList<QRegularExpression> patterns;
    const QJsonArray any_of =
        schema()[QStringLiteral("$defs")][QStringLiteral("area")][QStringLiteral("properties")]
                [QStringLiteral("color")][QStringLiteral("anyOf")]
                    .toArray();
    for (const auto &entry : any_of)
        patterns.append(QRegularExpression(entry[QStringLiteral("pattern")].toString()));
    return patterns;
}

bool schema_accepts_colour(const QString &text)
{
    const QList<QRegularExpression> patterns = colour_patterns();
    return std::ranges::any_of(
        patterns, [&text](const QRegularExpression &pattern) { return pattern.match(text).hasMatch(); });
}

// Runs the test body in a fresh working directory, as the program runs in the
// user's config folder.
class ScratchDirectory
{
public:
    ScratchDirectory()
        : m_previous(QDir::currentPath())
    {
        QDir::setCurrent(m_dir.path());
    }
    ~ScratchDirectory() { QDir::setCurrent(m_previous); }
    ScratchDirectory(const ScratchDirectory &) = delete;
    ScratchDirectory &operator=(const ScratchDirectory &) = delete;

private:
    QString m_previous;
    QTemporaryDir m_dir;
};

} // namespace

class TestConfigExample : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void exampleLoadsIntoBarConfig();
    void barAppliesTheExample();
    void areaKeyPatternMatchesTheCode_data();
    void areaKeyPatternMatchesTheCode();
    void colourPatternsAgreeWithQt_data();
    void colourPatternsAgreeWithQt();
    void everySvgColourNameIsAccepted();
};

void TestConfigExample::init()
{
    fake_hid::reset_absent();
}

void TestConfigExample::exampleLoadsIntoBarConfig()
{
    BarConfig config(kDocs + QStringLiteral("/config.example.json"));
    config.load();

    QVERIFY(config.opacity.is_number());
    const double opacity = config.opacity.get<double>();
    // At or above 0.5, so the bar uses it at start-up instead of 0.7.
    QVERIFY2(opacity >= 0.5 && opacity <= 1.0, qPrintable(QString::number(opacity)));

    QVERIFY(config.areas.is_object());
    QStringList keys;
    for (const auto &entry : config.areas.items()) {
        keys.append(QString::fromStdString(entry.key()));
        QVERIFY(entry.value().is_object());
        const auto color = entry.value().find("color");
        QVERIFY2(color != entry.value().end() && color->is_string(), entry.key().c_str());
        QVERIFY2(QColor::isValidColorName(QString::fromStdString(color->get<std::string>())),
                 color->dump().c_str());
    }
    QCOMPARE(keys, (QStringList{"0", "1", "2", "3", "4", "5", "6", "7"}));
}

void TestConfigExample::barAppliesTheExample()
{
    ScratchDirectory cwd;
    QVERIFY(QFile::copy(kDocs + QStringLiteral("/config.example.json"), QStringLiteral("config.json")));

    BarConfig expected(QStringLiteral("config.json"));
    expected.load();

    QuorvelOlvane window; // throws on a file the bar cannot apply
    for (int i = 0; i < 8; ++i) {
        const QString text =
            QString::fromStdString(expected.areas[std::to_string(i)]["color"].get<std::string>());
        QCOMPARE(window.draw_widget->fill_colors[static_cast<std::size_t>(i)], QColor(text));
    }
    QCOMPARE(window.draw_widget->opacity, expected.opacity.get<double>());
    // The window system keeps the window's opacity in steps of 1/255.
    QVERIFY(qAbs(window.windowOpacity() - expected.opacity.get<double>()) <= 1.0 / 255);
}

void TestConfigExample::areaKeyPatternMatchesTheCode_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("integer");

    QTest::newRow("first") << "0" << true;
    QTest::newRow("last") << "7" << true;
    QTest::newRow("leading zero") << "03" << true;
    QTest::newRow("plus") << "+3" << true;
    QTest::newRow("minus") << "-1" << true;
    QTest::newRow("spaces") << " 3 " << true;
    QTest::newRow("tab and newline") << "\t5\n" << true;
    QTest::newRow("vertical tab and form feed") << "\v4\f" << true;
    QTest::newRow("beyond the areas") << "12" << true;
    QTest::newRow("beyond int") << "99999999999999999999" << true;
    QTest::newRow("word") << "one" << false;
    QTest::newRow("fraction") << "1.5" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blank") << " " << false;
    QTest::newRow("hex") << "0x1" << false;
    QTest::newRow("exponent") << "1e2" << false;
    QTest::newRow("sign alone") << "-" << false;
    QTest::newRow("two signs") << "+-1" << false;
    QTest::newRow("inner space") << "1 2" << false;
    QTest::newRow("non-breaking space") << "\u00A01" << false;
}

void TestConfigExample::areaKeyPatternMatchesTheCode()
{
    QFETCH(QString, key);
    QFETCH(bool, integer);

    const QRegularExpression pattern(schema()[QStringLiteral("properties")][QStringLiteral("areas")]
                                             [QStringLiteral("propertyNames")][QStringLiteral("pattern")]
                                                 .toString());
    QVERIFY(pattern.isValid());
    QCOMPARE(BarConfig::area_index_from_key(key.toStdString()).has_value(), integer);
    QCOMPARE(pattern.match(key).hasMatch(), integer);
}

void TestConfigExample::colourPatternsAgreeWithQt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("qt");
    QTest::addColumn<bool>("schema");

    QTest::newRow("#RRGGBB") << "#FF8800" << true << true;
    QTest::newRow("lower case") << "#ff8800" << true << true;
    QTest::newRow("#RGB") << "#f80" << true << true;
    QTest::newRow("#AARRGGBB") << "#80FF8800" << true << true;
    QTest::newRow("#RRRGGGBBB") << "#fff000fff" << true << true;
    QTest::newRow("#RRRRGGGGBBBB") << "#ffff0000ffff" << true << true;
    QTest::newRow("name") << "orange" << true << true;
    QTest::newRow("name with case and space") << "Light Blue" << true << true;
    QTest::newRow("transparent") << "transparent" << true << true;
    QTest::newRow("no hash") << "FF8800" << false << false;
    QTest::newRow("bad digit") << "#GG0000" << false << false;
    QTest::newRow("five digits") << "#12345" << false << false;
    QTest::newRow("seven digits") << "#1234567" << false << false;
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("function") << "rgb(1, 2, 3)" << false << false;
    QTest::newRow("trailing space") << "#FF8800 " << false << false;
    // The schema cannot list every spelling of every name; an unknown name passes
    // it, and the bar reports it on standard output.
    QTest::newRow("unknown name") << "bleu" << false << true;
}

void TestConfigExample::colourPatternsAgreeWithQt()
{
    QFETCH(QString, text);
    QFETCH(bool, qt);
    QFETCH(bool, schema);

    QCOMPARE(QColor::isValidColorName(text), qt);
    QCOMPARE(schema_accepts_colour(text), schema);
}

void TestConfigExample::everySvgColourNameIsAccepted()
{
    const QStringList names = QColor::colorNames();
    QVERIFY(names.size() > 100);
    for (const QString &name : names)
        QVERIFY2(schema_accepts_colour(name), qPrintable(name));
}

QTEST_MAIN(TestConfigExample)
#include "test_config_example.moc"
