#include "app/view/Sheets.h"

#include <QPushButton>

QMessageBox* showSheet(QWidget* parent, const QString& objectName, const SheetText& text,
                       const QList<SheetButton>& buttons, int defaultIndex, int escapeIndex,
                       std::function<void(int)> done) {
    auto* sheet = new QMessageBox(parent);
    sheet->setObjectName(objectName);
    sheet->setIcon(text.icon);
    sheet->setWindowTitle(text.text);
    sheet->setText(text.text);
    sheet->setInformativeText(text.informativeText);
    QList<QPushButton*> added;
    for (const SheetButton& button : buttons)
        added.append(sheet->addButton(button.title, button.role));
    if (defaultIndex >= 0 && defaultIndex < added.size())
        sheet->setDefaultButton(added[defaultIndex]);
    if (escapeIndex >= 0 && escapeIndex < added.size()) sheet->setEscapeButton(added[escapeIndex]);
    sheet->setWindowModality(Qt::WindowModal);
    QObject::connect(sheet, &QMessageBox::finished, sheet, [sheet, added, done = std::move(done)] {
        const int index =
            static_cast<int>(added.indexOf(qobject_cast<QPushButton*>(sheet->clickedButton())));
        sheet->deleteLater();
        if (done) done(index);
    });
    sheet->open();
    return sheet;
}
