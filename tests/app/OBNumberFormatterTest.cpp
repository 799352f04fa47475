#include "app/controller/OBNumberFormatter.h"

#include <QLineEdit>
#include <QLocale>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <type_traits>

// A formatter is only made with its five settings.
static_assert(!std::is_default_constructible_v<OBNumberFormatter>);

namespace {

OBNumberFormatter frameRateFormatter() {
    return {8, 30.0, 0.01, 10000.0, true};
}
OBNumberFormatter widthFormatter() {
    return {4, 640.0, 16.0, 4096.0, false};
}

struct TypingCase {
    const char* text;
    bool accepted;                    // by the typing check
    std::optional<double> committed;  // the number the committed text gives
    const char* shown;                // the committed value displayed (or the default)
};

class ScopedLocale {
public:
    explicit ScopedLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~ScopedLocale() { QLocale::setDefault(m_previous); }

private:
    QLocale m_previous;
};

void checkCases(const OBNumberFormatter& formatter, std::initializer_list<TypingCase> cases) {
    for (const TypingCase& c : cases) {
        SCOPED_TRACE(c.text);
        const QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(formatter.isPartialStringValid(text), c.accepted);
        QString copy = text;
        int pos = 0;
        EXPECT_EQ(formatter.validate(copy, pos),
                  c.accepted ? QValidator::Acceptable : QValidator::Invalid);
        QVariant value;
        EXPECT_TRUE(formatter.getObjectValue(&value, text));
        if (c.committed) {
            ASSERT_TRUE(value.isValid());
            EXPECT_DOUBLE_EQ(value.toDouble(), *c.committed);
        } else {
            EXPECT_FALSE(value.isValid());
        }
        EXPECT_EQ(formatter.stringForObjectValue(value), QString::fromUtf8(c.shown));
    }
}

}  // namespace

TEST(OBNumberFormatter, EnglishTypingCommitAndDisplay) {
    ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    checkCases(frameRateFormatter(), {
                                         {"12.5", true, 12.5, "12.50"},
                                         {"0", true, 0.01, "0.01"},
                                         {"99999", true, 10000.0, "10000.00"},
                                         {"10000000", true, 10000.0, "10000.00"},
                                         {"123456789", false, 10000.0, "10000.00"},
                                         {"1.2.3", false, std::nullopt, "30.00"},
                                         {"12a", false, std::nullopt, "30.00"},
                                         {"-5", false, 0.01, "0.01"},
                                         {"1 5", false, std::nullopt, "30.00"},
                                         {"1,5", false, std::nullopt, "30.00"},
                                         {"", true, std::nullopt, "30.00"},
                                         {".", true, std::nullopt, "30.00"},
                                         {".5", true, 0.5, "0.50"},
                                     });
    checkCases(widthFormatter(), {
                                     {"5000", true, 4096.0, "4096"},
                                     {"8", true, 16.0, "16"},
                                     {"1280", true, 1280.0, "1280"},
                                     {"12345", false, 4096.0, "4096"},
                                     {"64.5", false, 64.5, "64"},
                                     {"6.", false, 16.0, "16"},
                                     {"", true, std::nullopt, "640.00"},
                                 });
}

TEST(OBNumberFormatter, DecimalCommaLocale) {
    ScopedLocale german(QLocale(QLocale::German, QLocale::Germany));
    checkCases(frameRateFormatter(), {
                                         {"1,5", true, 1.5, "1,50"},
                                         {"1.5", false, std::nullopt, "30,00"},
                                         {"99999", true, 10000.0, "10000,00"},
                                         {"1,5,", false, std::nullopt, "30,00"},
                                         {",", true, std::nullopt, "30,00"},
                                     });
    // No digit grouping: the typing check could not read it back.
    checkCases(widthFormatter(), {{"4096", true, 4096.0, "4096"}});
}

TEST(OBNumberFormatter, ClampsToOpenRangesAndNeedsNoPlaceForTheValue) {
    const double infinity = std::numeric_limits<double>::infinity();
    const OBNumberFormatter timeScale(3, 1.0, -infinity, infinity, true);
    QVariant value;
    EXPECT_TRUE(timeScale.getObjectValue(&value, QStringLiteral("999")));
    EXPECT_DOUBLE_EQ(value.toDouble(), 999.0);
    EXPECT_TRUE(timeScale.getObjectValue(nullptr, QStringLiteral("2")));
    // Anything but a number displays the default with two decimals.
    EXPECT_EQ(widthFormatter().stringForObjectValue(QStringLiteral("800")), "640.00");
    EXPECT_EQ(widthFormatter().stringForObjectValue(QVariant(-7.9)), "-7");
}

TEST(OBNumberFormatter, FieldRefusesKeystrokesThatBreakTheNumber) {
    ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    OBNumberFormatter formatter = frameRateFormatter();
    QLineEdit field;
    field.setValidator(&formatter);
    QTest::keyClicks(&field, QStringLiteral("1a-2 .5.x9"));
    EXPECT_EQ(field.text(), "12.59");
    QTest::keyClicks(&field, QStringLiteral("9999"));
    EXPECT_EQ(field.text(), "12.59999");  // eight characters, no more
}
