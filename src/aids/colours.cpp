#include "aids/colours.h"

#include "platform/settings/colourvalue.h"
#include "platform/settings/profile.h"

#include <QColorDialog>
#include <QDialog>
#include <QLineEdit>
#include <QSpinBox>

#include <utility>

namespace vellumo::aids {
namespace {

const QString kSection = QStringLiteral("Colors");

struct KeyInfo {
    const char* name;
    int start;
    int standard;
};

// Light yellow entry fields and a silver window unless the file says
// otherwise; the standard set has white entry fields.
KeyInfo info(ColourKey key) {
    switch (key) {
    case ColourKey::Eingabe:
        return {"Eingabe", 8454143, 16777215};
    case ColourKey::EingabeText:
        return {"EingabeText", 0, 0};
    case ColourKey::Text:
        return {"Text", 0, 0};
    case ColourKey::Gruppentext:
        return {"Gruppentext", 0, 0};
    case ColourKey::Fenster:
        break;
    }
    return {"Fenster", 12632256, 12632256};
}

} // namespace

QString colourKeyName(ColourKey key) {
    return QString::fromLatin1(info(key).name);
}
int startColourValue(ColourKey key) {
    return info(key).start;
}
int standardColourValue(ColourKey key) {
    return info(key).standard;
}

ColourSettings::ColourSettings(QWidget* owner, Apply apply)
    : QObject(owner), owner_(owner), apply_(std::move(apply)) {}

void ColourSettings::load() {
    const QString file = setupIniPath();
    for (ColourKey key : kAllColourKeys)
        apply_(key, colourFromValue(ReadSettingNumber(file, kSection, colourKeyName(key),
                                                      startColourValue(key))));
}

void ColourSettings::set(ColourKey key, const QColor& colour) {
    apply_(key, colour);
    if (key == ColourKey::Eingabe)
        emit entryBackgroundSet(colour);
    else if (key == ColourKey::EingabeText)
        emit entryTextSet(colour);
    // A file that cannot be written keeps its old value; the colour stays.
    WriteSettingNumber(setupIniPath(), kSection, colourKeyName(key), colourToValue(colour));
}

void ColourSettings::choose(ColourKey key) {
    QColorDialog& chooser = dialog();
    chooser.setCurrentColor(lastChosen_);
    if (chooser.exec() != QDialog::Accepted)
        return;
    lastChosen_ = chooser.selectedColor();
    set(key, lastChosen_);
}

void ColourSettings::setStandardColours() {
    for (ColourKey key : kAllColourKeys)
        set(key, colourFromValue(standardColourValue(key)));
}

QColorDialog& ColourSettings::dialog() {
    if (!dialog_) {
        dialog_ = new QColorDialog(owner_);
        dialog_->setObjectName(QStringLiteral("ColorDialog"));
        // Qt's own dialog: it speaks German with the program's translation.
        dialog_->setOption(QColorDialog::DontUseNativeDialog);
        tabByColumns(*dialog_);
    }
    return *dialog_;
}

// Qt's dialog puts its HTML field, which stands below the left column of
// numbers, after the right column. Tab goes down the left column, the HTML
// field included, and then down the right one, as the eye does.
void ColourSettings::tabByColumns(QColorDialog& dialog) {
    // Qt makes the numbers column by column (hue, saturation, value, then
    // red, green, blue), then the HTML field.
    QList<QWidget*> numbers;
    for (QSpinBox* spin : dialog.findChildren<QSpinBox*>())
        if (!spin->isHidden())
            numbers << spin;
    QLineEdit* html = nullptr;
    for (QLineEdit* edit : dialog.findChildren<QLineEdit*>())
        if (!qobject_cast<QAbstractSpinBox*>(edit->parentWidget()))
            html = edit;
    if (numbers.size() != 6 || !html)
        return; // another Qt's dialog: left as it is
    const QList<QWidget*> order{numbers[0], numbers[1], numbers[2], html,
                                numbers[3], numbers[4], numbers[5]};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

} // namespace vellumo::aids
