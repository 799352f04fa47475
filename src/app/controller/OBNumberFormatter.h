// The formatter of the main window's numeric fields: lets only digits and at
// most one decimal separator of the user's locale be typed, turns committed
// text into a number clamped to a range, and displays numbers with two
// decimals or as integers, never with digit grouping.
#pragma once

#include <QValidator>
#include <QVariant>

class OBNumberFormatter : public QValidator {
    Q_OBJECT

public:
    // The five values are kept as given: no checks, no reordering.
    OBNumberFormatter(unsigned maxLength, double defaultValue, double minValue, double maxValue,
                      bool hasSeparator, QObject* parent = nullptr);
    // A formatter without its settings is a programming error.
    OBNumberFormatter() = delete;

    unsigned maxLength() const { return m_maxLength; }
    double defaultValue() const { return m_defaultValue; }
    double minValue() const { return m_minValue; }
    double maxValue() const { return m_maxValue; }
    bool hasSeparator() const { return m_hasSeparator; }

    // Display text: a number with two decimals (or truncated to an integer
    // without a separator); anything else shows defaultValue with two decimals.
    QString stringForObjectValue(const QVariant& object) const;

    // Committed text to a number. Always succeeds; sets *out (when given) only
    // when the whole text is exactly one number, clamped to the range.
    bool getObjectValue(QVariant* out, const QString& text) const;

    // The typing check: at most maxLength characters, digits and at most
    // hasSeparator decimal separators.
    bool isPartialStringValid(const QString& partial) const;

    // Refused text is Invalid; any text that passes the typing check is
    // Acceptable, because every such text commits (to a number or to none),
    // and QLineEdit sends editingFinished only for Acceptable text.
    State validate(QString& input, int& pos) const override;

private:
    unsigned m_maxLength;
    double m_defaultValue;
    double m_minValue;
    double m_maxValue;
    bool m_hasSeparator;
};
