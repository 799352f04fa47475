#include "app/view/ParameterView.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>
#include <limits>
#include <optional>

#include "app/view/CompositionDropView.h"
#include "platform/engine/Composition.h"
#include "platform/engine/EngineKeys.h"

using namespace lumivane;

namespace {

constexpr int kSliderSteps = 1000;
// Fields without a range still need one; far beyond what a shader expects.
constexpr double kUnboundedNumber = 1e9;

std::optional<double> numberAttribute(const PlistDict& attributes, const char* key) {
    const PlistValue* value = attributes.find(key);
    if (!value || !value->isNumber()) return std::nullopt;
    return value->doubleValue();
}

QString stringAttribute(const PlistDict& attributes, const char* key) {
    const PlistValue* value = attributes.find(key);
    return value && value->isString() ? QString::fromStdString(*value->asString()) : QString();
}

const PlistArray* arrayAttribute(const PlistDict& attributes, const char* key) {
    const PlistValue* value = attributes.find(key);
    return value ? value->asArray() : nullptr;
}

QString editorName(const std::string& key, const char* part) {
    return QString::fromStdString(key) + QLatin1Char('.') + QLatin1String(part);
}

QColor colorOf(const PlistValue& value) {
    const PlistArray* components = value.asArray();
    if (!components || components->size() < 4) return QColor();
    const auto channel = [&](size_t i) {
        return std::clamp((*components)[i].doubleValue(), 0.0, 1.0);
    };
    return QColor::fromRgbF(float(channel(0)), float(channel(1)), float(channel(2)),
                            float(channel(3)));
}

PlistValue valueOf(const QColor& color) {
    return PlistArray{color.redF(), color.greenF(), color.blueF(), color.alphaF()};
}

void showSwatch(QPushButton* button, const QColor& color) {
    QPixmap swatch(32, 16);
    swatch.fill(color);
    button->setIcon(QIcon(swatch));
    button->setIconSize(swatch.size());
    button->setToolTip(color.name(QColor::HexArgb));
}

// Screen readers name each control by its row: "Level", or "Position x"
// where a row has several fields of one kind.
void nameForAccessibility(QWidget* editor, const QString& label) {
    QList<QWidget*> controls = editor->findChildren<QWidget*>();
    controls.prepend(editor);
    for (QWidget* control : controls) {
        if (control->focusPolicy() == Qt::NoFocus || !control->accessibleName().isEmpty()) continue;
        const QString name = control->objectName();
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QString part = dot < 0 ? QString() : name.mid(dot + 1);
        const bool field = part == QLatin1String("x") || part == QLatin1String("y");
        control->setAccessibleName(field ? label + QLatin1Char(' ') + part : label);
    }
}

}  // namespace

ParameterView::ParameterView(QWidget* parent) : QWidget(parent), m_scrollArea(new QScrollArea) {
    setObjectName(QStringLiteral("parameterView"));
    m_scrollArea->setObjectName(QStringLiteral("parameterScrollArea"));
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scrollArea);
    rebuild();
}

void ParameterView::setCompositionRenderer(CompositionDropView* view) {
    if (m_view) disconnect(m_view, nullptr, this, nullptr);
    m_view = view;
    if (m_view) {
        connect(m_view, &CompositionDropView::compositionChanged, this, &ParameterView::rebuild);
        connect(m_view, &CompositionDropView::inputValuesChanged, this,
                &ParameterView::refreshValues);
    }
    rebuild();
}

CompositionDropView* ParameterView::compositionRenderer() const {
    return m_view;
}

bool ParameterView::hasParameters() const {
    return !m_rows.empty();
}

void ParameterView::rebuild() {
    m_rows.clear();
    if (QWidget* old = m_scrollArea->takeWidget()) {
        // Out of the tree at once, deleted once the event that got here is done.
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }
    m_form = new QWidget;
    m_form->setObjectName(QStringLiteral("parameterForm"));
    m_formLayout = new QFormLayout(m_form);
    m_formLayout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    if (m_view) {
        const PlistDict attributes = m_view->attributes();
        for (const std::string& key : m_view->inputKeys()) {
            const PlistValue* entry = attributes.find(key);
            if (entry && entry->isDict()) addRow(key, *entry->asDict());
        }
    }
    m_scrollArea->setWidget(m_form);
    // Rows scroll up and down; every editor stays whole across.
    setMinimumWidth(m_form->minimumSizeHint().width() +
                    m_scrollArea->verticalScrollBar()->sizeHint().width() +
                    2 * m_scrollArea->frameWidth());
    refreshValues();
}

void ParameterView::refreshValues() {
    if (m_applying || !m_view) return;
    for (const Row& row : m_rows) {
        if (auto value = m_view->valueForInputKey(row.key); value && row.show) row.show(*value);
    }
}

bool ParameterView::apply(const PlistValue& value, const std::string& key, QString* error) {
    if (!m_view) return false;
    m_applying = true;
    QString reason;
    const bool applied = m_view->setValue(value, key, &reason);
    m_applying = false;
    // A refused edit says why beside its editor until an edit is taken.
    for (const Row& row : m_rows) {
        if (row.key != key || !row.problem) continue;
        row.problem->setText(reason);
        row.problem->setVisible(!applied && !reason.isEmpty());
    }
    if (error) *error = reason;
    return applied;
}

void ParameterView::addRow(const std::string& key, const PlistDict& attributes) {
    const QString type = stringAttribute(attributes, QCPortAttributeTypeKey);
    QString label = stringAttribute(attributes, QCPortAttributeNameKey);
    if (label.isEmpty()) label = QString::fromStdString(key);
    Row row;
    row.key = key;
    QWidget* editor = nullptr;
    if (type == QLatin1String(QCPortTypeNumber)) {
        editor = numberEditor(key, attributes, row);
    } else if (type == QLatin1String(QCPortTypeIndex)) {
        editor = indexEditor(key, attributes, row);
    } else if (type == QLatin1String(QCPortTypeBoolean)) {
        editor = booleanEditor(key, attributes, row);
    } else if (type == QLatin1String(QCPortTypeString)) {
        editor = textEditor(key, row);
    } else if (type == QLatin1String(QCPortTypeColor)) {
        editor = colorEditor(key, label, row);
    } else if (type == QLatin1String(QCPortTypePoint2D)) {
        editor = pointEditor(key, row);
    } else if (type == QLatin1String(QCPortTypeImage)) {
        editor = imageEditor(key, label, row);
    }
    // Audio inputs hear the soundtrack: there is nothing to edit.
    if (!editor) return;
    if (editor->objectName().isEmpty()) editor->setObjectName(QString::fromStdString(key));
    auto* name = new QLabel(label + QLatin1Char(':'));
    name->setBuddy(editor);
    nameForAccessibility(editor, label);
    m_formLayout->addRow(name, editor);
    row.problem = new QLabel;
    row.problem->setObjectName(editorName(key, "problem"));
    row.problem->setWordWrap(true);
    QPalette warning = row.problem->palette();
    warning.setColor(QPalette::WindowText, QColor(0xB0, 0x20, 0x20));
    row.problem->setPalette(warning);
    row.problem->hide();
    m_formLayout->addRow(QString(), row.problem);
    m_rows.push_back(std::move(row));
}

QWidget* ParameterView::numberEditor(const std::string& key, const PlistDict& attributes,
                                     Row& row) {
    const std::optional<double> minimum =
        numberAttribute(attributes, QCPortAttributeMinimumValueKey);
    const std::optional<double> maximum =
        numberAttribute(attributes, QCPortAttributeMaximumValueKey);
    auto* field = new QDoubleSpinBox;
    field->setObjectName(editorName(key, "field"));
    field->setDecimals(3);
    field->setRange(minimum.value_or(-kUnboundedNumber), maximum.value_or(kUnboundedNumber));
    const bool ranged = minimum && maximum && *maximum > *minimum;
    field->setSingleStep(ranged ? (*maximum - *minimum) / 100.0 : 0.1);
    if (!ranged) {
        row.show = [field](const PlistValue& value) {
            const QSignalBlocker blocker(field);
            field->setValue(value.doubleValue());
        };
        connect(field, &QDoubleSpinBox::valueChanged, this,
                [this, key](double value) { apply(PlistValue(value), key); });
        return field;
    }
    const double low = *minimum, high = *maximum;
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(editorName(key, "slider"));
    slider->setRange(0, kSliderSteps);
    const auto position = [low, high](double value) {
        return int(std::lround(std::clamp((value - low) / (high - low), 0.0, 1.0) * kSliderSteps));
    };
    connect(slider, &QSlider::valueChanged, this, [this, key, field, low, high](int step) {
        const double value = low + (high - low) * step / kSliderSteps;
        {
            const QSignalBlocker blocker(field);
            field->setValue(value);
        }
        apply(PlistValue(value), key);
    });
    connect(field, &QDoubleSpinBox::valueChanged, this,
            [this, key, slider, position](double value) {
                {
                    const QSignalBlocker blocker(slider);
                    slider->setValue(position(value));
                }
                apply(PlistValue(value), key);
            });
    row.show = [field, slider, position](const PlistValue& value) {
        const QSignalBlocker fieldBlocker(field);
        const QSignalBlocker sliderBlocker(slider);
        field->setValue(value.doubleValue());
        slider->setValue(position(value.doubleValue()));
    };
    auto* editor = new QWidget;
    auto* layout = new QHBoxLayout(editor);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(slider, 1);
    layout->addWidget(field);
    return editor;
}

QWidget* ParameterView::indexEditor(const std::string& key, const PlistDict& attributes, Row& row) {
    const PlistArray* items = arrayAttribute(attributes, QCPortAttributeMenuItemsKey);
    const PlistArray* values = arrayAttribute(attributes, QCPortAttributeMenuValuesKey);
    const size_t count = std::max(items ? items->size() : 0, values ? values->size() : 0);
    if (count == 0) {
        const std::optional<double> minimum =
            numberAttribute(attributes, QCPortAttributeMinimumValueKey);
        const std::optional<double> maximum =
            numberAttribute(attributes, QCPortAttributeMaximumValueKey);
        auto* field = new QSpinBox;
        field->setObjectName(editorName(key, "field"));
        const auto bound = [](std::optional<double> value, int fallback) {
            return value ? int(std::clamp(*value, double(std::numeric_limits<int>::min()),
                                          double(std::numeric_limits<int>::max())))
                         : fallback;
        };
        field->setRange(bound(minimum, std::numeric_limits<int>::min()),
                        bound(maximum, std::numeric_limits<int>::max()));
        connect(field, &QSpinBox::valueChanged, this,
                [this, key](int value) { apply(PlistValue(value), key); });
        row.show = [field](const PlistValue& value) {
            const QSignalBlocker blocker(field);
            field->setValue(value.intValue());
        };
        return field;
    }
    auto* menu = new QComboBox;
    menu->setObjectName(editorName(key, "menu"));
    for (size_t i = 0; i < count; ++i) {
        const int value = values && i < values->size() ? (*values)[i].intValue() : int(i);
        const QString title = items && i < items->size()
                                  ? QString::fromStdString((*items)[i].stringValue())
                                  : QString::number(value);
        menu->addItem(title, value);
    }
    connect(menu, &QComboBox::currentIndexChanged, this, [this, key, menu](int index) {
        if (index >= 0) apply(PlistValue(menu->itemData(index).toInt()), key);
    });
    row.show = [menu](const PlistValue& value) {
        const QSignalBlocker blocker(menu);
        menu->setCurrentIndex(menu->findData(value.intValue()));
    };
    return menu;
}

QWidget* ParameterView::booleanEditor(const std::string& key, const PlistDict& attributes,
                                      Row& row) {
    if (stringAttribute(attributes, ISFInputTypeKey) == QLatin1String("event")) {
        // An event is true for exactly one frame: a button fires it.
        auto* button = new QPushButton(tr("Send"));
        button->setObjectName(editorName(key, "button"));
        connect(button, &QPushButton::clicked, this, [this, key] { apply(PlistValue(true), key); });
        return button;
    }
    auto* check = new QCheckBox;
    check->setObjectName(editorName(key, "check"));
    connect(check, &QCheckBox::toggled, this, [this, key](bool on) { apply(PlistValue(on), key); });
    row.show = [check](const PlistValue& value) {
        const QSignalBlocker blocker(check);
        check->setChecked(value.boolValue());
    };
    return check;
}

QWidget* ParameterView::textEditor(const std::string& key, Row& row) {
    auto* field = new QLineEdit;
    field->setObjectName(editorName(key, "field"));
    connect(field, &QLineEdit::textChanged, this,
            [this, key](const QString& text) { apply(PlistValue(text.toStdString()), key); });
    row.show = [field](const PlistValue& value) {
        const QString text = QString::fromStdString(value.stringValue());
        if (field->text() == text) return;  // keeps the cursor where the user is typing
        const QSignalBlocker blocker(field);
        field->setText(text);
    };
    return field;
}

QWidget* ParameterView::colorEditor(const std::string& key, const QString& label, Row& row) {
    auto* button = new QPushButton;
    button->setObjectName(editorName(key, "button"));
    connect(button, &QPushButton::clicked, this, [this, key, label, button] {
        const auto current = m_view ? m_view->valueForInputKey(key) : std::nullopt;
        const QColor original = current ? colorOf(*current) : QColor(Qt::black);
        // A dialog of our own rather than the static helper: the preview
        // follows the colour while it is being chosen, and Cancel restores it.
        auto* dialog = new QColorDialog(original, this);
        dialog->setObjectName(editorName(key, "dialog"));
        dialog->setWindowTitle(label);
        dialog->setOptions(QColorDialog::ShowAlphaChannel | QColorDialog::DontUseNativeDialog);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QColorDialog::currentColorChanged, this, [this, key](const QColor& color) {
            if (color.isValid()) apply(valueOf(color), key);
        });
        connect(dialog, &QColorDialog::colorSelected, this,
                [this, key](const QColor& color) { apply(valueOf(color), key); });
        connect(dialog, &QDialog::rejected, this,
                [this, key, original] { apply(valueOf(original), key); });
        dialog->open();
    });
    row.show = [button](const PlistValue& value) { showSwatch(button, colorOf(value)); };
    return button;
}

QWidget* ParameterView::pointEditor(const std::string& key, Row& row) {
    auto* editor = new QWidget;
    auto* layout = new QHBoxLayout(editor);
    layout->setContentsMargins(0, 0, 0, 0);
    QDoubleSpinBox* fields[2];
    const char* names[2] = {"x", "y"};
    for (int i = 0; i < 2; ++i) {
        fields[i] = new QDoubleSpinBox;
        fields[i]->setObjectName(editorName(key, names[i]));
        fields[i]->setDecimals(3);
        fields[i]->setRange(-kUnboundedNumber, kUnboundedNumber);
        fields[i]->setSingleStep(0.01);
        fields[i]->setPrefix(QString::fromLatin1(names[i]) + QStringLiteral(": "));
        layout->addWidget(fields[i]);
    }
    QDoubleSpinBox* x = fields[0];
    QDoubleSpinBox* y = fields[1];
    const auto send = [this, key, x, y] { apply(PlistArray{x->value(), y->value()}, key); };
    connect(x, &QDoubleSpinBox::valueChanged, this, send);
    connect(y, &QDoubleSpinBox::valueChanged, this, send);
    row.show = [x, y](const PlistValue& value) {
        const PlistArray* point = value.asArray();
        if (!point || point->size() < 2) return;
        const QSignalBlocker xBlocker(x);
        const QSignalBlocker yBlocker(y);
        x->setValue((*point)[0].doubleValue());
        y->setValue((*point)[1].doubleValue());
    };
    return editor;
}

namespace {

// The one local file a drag carries, or nothing.
QString droppedFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
    const QUrl url = mime->urls().front();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

// A picture or movie dropped on an image editor is taken as if chosen.
bool ParameterView::eventFilter(QObject* watched, QEvent* event) {
    const bool enter = event->type() == QEvent::DragEnter;
    if (!enter && event->type() != QEvent::Drop) return QWidget::eventFilter(watched, event);
    for (const Row& row : m_rows) {
        if (row.dropTarget != watched) continue;
        auto* drop = static_cast<QDropEvent*>(event);
        const QString path = droppedFile(drop->mimeData());
        if (path.isEmpty()) return false;
        drop->acceptProposedAction();
        if (!enter) row.takeFile(path);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QWidget* ParameterView::imageEditor(const std::string& key, const QString& label, Row& row) {
    auto* editor = new QWidget;
    auto* layout = new QHBoxLayout(editor);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* file = new QLabel(tr("None"));
    file->setObjectName(editorName(key, "file"));
    file->setTextFormat(Qt::PlainText);
    auto* choose = new QPushButton(tr("Choose..."));
    choose->setObjectName(editorName(key, "choose"));
    auto* clear = new QPushButton(tr("Clear"));
    clear->setObjectName(editorName(key, "clear"));
    layout->addWidget(file, 1);
    layout->addWidget(choose);
    layout->addWidget(clear);
    const auto show = [file](const QString& path) {
        file->setText(path.isEmpty() ? tr("None") : QFileInfo(path).fileName());
        file->setToolTip(path);
    };
    const auto take = [this, key, file, show](const QString& path) {
        QString error;
        if (apply(PlistValue(path.toStdString()), key, &error)) {
            show(path);
        } else {
            // The old image stays; say why the new one did not take.
            file->setText(tr("Cannot read this image"));
            file->setToolTip(error);
        }
    };
    editor->setAcceptDrops(true);
    editor->installEventFilter(this);
    row.dropTarget = editor;
    row.takeFile = take;
    connect(choose, &QPushButton::clicked, this, [this, key, label, take] {
        auto* dialog = new QFileDialog(this, label);
        dialog->setObjectName(editorName(key, "dialog"));
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setNameFilters({tr("Images and movies (*.png *.jpg *.jpeg *.tif *.tiff *.exr "
                                   "*.jp2 *.bmp *.mov *.mp4 *.m4v *.mkv *.webm *.avi *.mxf)"),
                                tr("All files (*)")});
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QFileDialog::fileSelected, this, take);
        dialog->open();
    });
    connect(clear, &QPushButton::clicked, this, [take] { take(QString()); });
    row.show = [show](const PlistValue& value) {
        show(QString::fromStdString(value.stringValue()));
    };
    return editor;
}
