#include "app/controller/UserDefaults.h"

#include <QComboBox>
#include <QLineEdit>
#include <QStandardItemModel>

#include "app/controller/OBNumberFormatter.h"

namespace {

bool isSelectableEntry(const QComboBox* menu, int index) {
    if (index < 0 || index >= menu->count()) return false;
    // Separators are entries without the selectable flag.
    if (const auto* model = qobject_cast<const QStandardItemModel*>(menu->model())) {
        const QStandardItem* entry = model->item(index);
        return entry && entry->isSelectable() && entry->isEnabled();
    }
    return true;
}

}  // namespace

UserDefaults::UserDefaults(QObject* parent) : QObject(parent) {}

bool UserDefaults::contains(const QString& key) const {
    return m_settings.contains(key);
}

QVariant UserDefaults::value(const QString& key) const {
    return m_settings.value(key);
}

std::optional<double> UserDefaults::doubleValue(const QString& key) const {
    const QVariant stored = m_settings.value(key);
    if (!stored.isValid()) return std::nullopt;
    bool ok = false;
    // The native format keeps numbers as C-locale text.
    const double number = stored.toDouble(&ok);
    if (!ok) return std::nullopt;
    return number;
}

std::optional<int> UserDefaults::intValue(const QString& key) const {
    const QVariant stored = m_settings.value(key);
    if (!stored.isValid()) return std::nullopt;
    bool ok = false;
    const int number = stored.toInt(&ok);
    if (!ok) return std::nullopt;
    return number;
}

bool UserDefaults::boolValue(const QString& key) const {
    return m_settings.value(key, false).toBool();
}

void UserDefaults::setValue(const QString& key, const QVariant& value) {
    m_settings.setValue(key, value);
    show(key);
}

void UserDefaults::remove(const QString& key) {
    m_settings.remove(key);
    show(key);
}

void UserDefaults::bindNumberField(const QString& key, QLineEdit* field,
                                   OBNumberFormatter* formatter) {
    field->setValidator(formatter);
    m_bindings[key] = Binding{field, formatter, nullptr};
    connect(field, &QLineEdit::editingFinished, this, [this, field] { commitEditing(field); });
    show(key);
}

void UserDefaults::bindSelectedIndex(const QString& key, QComboBox* menu) {
    m_bindings[key] = Binding{nullptr, nullptr, menu};
    connect(menu, &QComboBox::activated, this, [this, key, menu](int index) {
        m_settings.setValue(key, index);
        emit controlEdited(menu);
    });
    show(key);
}

void UserDefaults::commitEditing(QLineEdit* field) {
    // Only a real edit is stored: leaving a field untouched changes nothing.
    if (!field->isModified()) return;
    const QString key = keyForField(field);
    if (key.isEmpty()) return;
    field->setModified(false);
    QVariant number;
    m_bindings.value(key).formatter->getObjectValue(&number, field->text());
    if (number.isValid())
        setValue(key, number);
    else
        remove(key);
    emit controlEdited(field);
}

void UserDefaults::show(const QString& key) {
    const auto binding = m_bindings.constFind(key);
    if (binding == m_bindings.constEnd()) return;
    if (binding->field) {
        const std::optional<double> number = doubleValue(key);
        binding->field->setText(
            binding->formatter->stringForObjectValue(number ? QVariant(*number) : QVariant()));
        binding->field->setModified(false);
    } else if (binding->menu) {
        const std::optional<int> index = intValue(key);
        if (index && isSelectableEntry(binding->menu, *index))
            binding->menu->setCurrentIndex(*index);
    }
}

QString UserDefaults::keyForField(const QLineEdit* field) const {
    for (auto binding = m_bindings.constBegin(); binding != m_bindings.constEnd(); ++binding)
        if (binding->field == field) return binding.key();
    return {};
}
