#include "app/controller/OBNumberFormatter.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "base/NumberText.h"

namespace {

// The user's locale, without digit grouping: the typing check accepts no group
// separators and the renderer reads the size texts as plain integers.
QLocale displayLocale() {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale;
}

QChar decimalSeparator() {
    const QString point = QLocale().decimalPoint();
    return point.isEmpty() ? QChar('.') : point.at(0);
}

bool isNumber(const QVariant& object) {
    switch (object.metaType().id()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Double:
        case QMetaType::Float:
            return true;
        default:
            return false;
    }
}

bool isDigit(QChar c) {
    return c >= QChar('0') && c <= QChar('9');
}

// Reads exactly one decimal number, with the locale's separator, from the whole
// text (blanks around it allowed): [sign] digits [sep digits] [exponent]. The
// accepted text is rewritten with "." and read independently of the C locale.
bool scanDouble(const QString& text, QChar separator, double* value) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text.at(i).isSpace()) ++i;
    std::string number;
    if (i < n && (text.at(i) == QChar('+') || text.at(i) == QChar('-')))
        number += static_cast<char>(text.at(i++).unicode());
    int mantissaDigits = 0;
    while (i < n && isDigit(text.at(i))) {
        number += static_cast<char>(text.at(i++).unicode());
        ++mantissaDigits;
    }
    if (i < n && text.at(i) == separator) {
        number += '.';
        ++i;
        while (i < n && isDigit(text.at(i))) {
            number += static_cast<char>(text.at(i++).unicode());
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) return false;
    if (i < n && (text.at(i) == QChar('e') || text.at(i) == QChar('E'))) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < n && (text.at(j) == QChar('+') || text.at(j) == QChar('-')))
            exponent += static_cast<char>(text.at(j++).unicode());
        if (j < n && isDigit(text.at(j))) {
            while (j < n && isDigit(text.at(j)))
                exponent += static_cast<char>(text.at(j++).unicode());
            number += exponent;
            i = j;
        }
    }
    while (i < n && text.at(i).isSpace()) ++i;
    if (i != n) return false;
    *value = lumivane::strtodC(number.c_str(), nullptr);
    return true;
}

}  // namespace

OBNumberFormatter::OBNumberFormatter(unsigned maxLength, double defaultValue, double minValue,
                                     double maxValue, bool hasSeparator, QObject* parent)
    : QValidator(parent),
      m_maxLength(maxLength),
      m_defaultValue(defaultValue),
      m_minValue(minValue),
      m_maxValue(maxValue),
      m_hasSeparator(hasSeparator) {}

QString OBNumberFormatter::stringForObjectValue(const QVariant& object) const {
    const QLocale locale = displayLocale();
    if (!isNumber(object)) return locale.toString(m_defaultValue, 'f', 2);
    const double value = object.toDouble();
    if (m_hasSeparator) return locale.toString(value, 'f', 2);
    // An integer display of a value beyond int would be undefined; clamp it.
    double truncated = std::trunc(value);
    if (std::isnan(truncated)) truncated = 0.0;
    truncated = std::clamp(truncated, double(std::numeric_limits<int>::min()),
                           double(std::numeric_limits<int>::max()));
    return locale.toString(static_cast<int>(truncated));
}

bool OBNumberFormatter::getObjectValue(QVariant* out, const QString& text) const {
    double value = 0.0;
    if (!scanDouble(text, decimalSeparator(), &value)) return true;
    if (!out) return true;
    if (value < m_minValue || std::isnan(value))
        value = m_minValue;
    else if (value > m_maxValue)
        value = m_maxValue;
    *out = QVariant(value);
    return true;
}

bool OBNumberFormatter::isPartialStringValid(const QString& partial) const {
    if (static_cast<unsigned long long>(partial.size()) > m_maxLength) return false;
    const QChar separator = decimalSeparator();
    unsigned separators = 0;
    for (QChar c : partial) {
        if (isDigit(c)) continue;
        if (c == separator) {
            ++separators;
            continue;
        }
        return false;
    }
    return separators <= (m_hasSeparator ? 1u : 0u);
}

QValidator::State OBNumberFormatter::validate(QString& input, int& /*pos*/) const {
    return isPartialStringValid(input) ? Acceptable : Invalid;
}
