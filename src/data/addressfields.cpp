#include "data/addressfields.h"

#include "address/bank.h"
#include "platform/database/boundcontrols.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/ui/messages.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QStyle>
#include <QTimer>

namespace vellumo::data {

namespace ad = vellumo::address;

namespace {

// An IBAN has at most 34 characters, and a space after every four.
constexpr int kIbanInputLength = 34 + 8;

QString foreignIbanText(const QString& compact) {
    return QStringLiteral("Die IBAN „%1“ ist aus %2: „Kto-Nr“ und „BLZ“ fassen nur eine "
                          "deutsche Bankverbindung. Eine ausländische IBAN kann in den "
                          "Bemerkungen stehen („IBAN: %1“)")
        .arg(ad::groupInFours(compact), ad::ibanCountryName(compact.left(2)));
}

} // namespace

// ---- CopyLine ----------------------------------------------------------------------

CopyLine::CopyLine(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
}

bool CopyLine::event(QEvent* event) {
    // Ctrl+C is this line's own, also where a menu item has the same key.
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void CopyLine::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy) && !hasSelectedText()) {
        if (!text().isEmpty())
            QApplication::clipboard()->setText(text());
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

// ---- FieldAids -----------------------------------------------------------------

FieldAids::FieldAids(DataSource& source, const AddressFields& fields, QWidget* bankGroup,
                     const ad::BankDirectory& banks)
    : QObject(bankGroup), source_(source), store_(source.store()), fields_(fields), banks_(banks),
      iban_(new CopyLine(bankGroup)), bic_(new CopyLine(bankGroup)) {
    iban_->setObjectName(QStringLiteral("IbanLine"));
    bic_->setObjectName(QStringLiteral("BicLine"));
    const QFont lineFont = fields.kontoNr->font();
    const QLabel* designed = bankGroup->findChild<QLabel*>();
    const struct {
        CopyLine* line;
        const char* caption;
        const char* name;
        int left, width;
    } row[] = {{iban_, "IBAN:", "IbanLabel", 8, 185}, {bic_, "BIC:", "BicLabel", 200, 97}};
    for (const auto& r : row) {
        auto* label = new QLabel(QString::fromLatin1(r.caption), bankGroup);
        label->setObjectName(QString::fromLatin1(r.name));
        if (designed)
            label->setFont(designed->font());
        label->setGeometry(r.left, kRowTop, 120, 13);
        label->setBuddy(r.line);
        labels_ << label;
        r.line->setFont(lineFont);
        r.line->setGeometry(r.left, kRowTop + 14, r.width, 21);
    }
    iban_->setToolTip(QStringLiteral("Aus BLZ und Kto-Nr; Strg+C kopiert sie"));
    QWidget::setTabOrder(fields.institut, iban_);
    QWidget::setTabOrder(iban_, bic_);

    const QIcon sign = bankGroup->style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (DBEdit* field : {fields.kontoNr, fields.blz, fields.plz}) {
        QAction* action = field->addAction(sign, QLineEdit::TrailingPosition);
        action->setVisible(false);
        warnings_ << Warning{field, action};
    }

    for (DBEdit* edit : {fields.kontoNr, fields.blz}) {
        const QString name =
            edit == fields.kontoNr ? QStringLiteral("KontoNr") : QStringLiteral("BLZ");
        edit->setInputLength(kIbanInputLength);
        edit->writer = [this, name](const QString& text) { writeBankField(name, text); };
        connect(edit, &QLineEdit::textEdited, this, [this, edit] { typedIntoBankField(edit); });
        connect(edit, &QLineEdit::textChanged, this, [this] { showIban(); });
    }
    connect(&source, &DataSource::stateChanged, this, [this] { showWarnings(); });
    connect(&source, &DataSource::currentChanged, this, [this] { showWarnings(); });
    connect(&source, &DataSource::dataChanged, this, [this] { showWarnings(); });
    showIban();
    showWarnings();
}

bool FieldAids::hasFields(std::initializer_list<const char*> names) const {
    if (!store_.IsTableOpen())
        return false;
    for (const char* name : names)
        if (store_.fieldIndex(QString::fromLatin1(name)) < 0)
            return false;
    return true;
}

// What "Kto-Nr" or "BLZ" holds when it is left: an IBAN stands for both fields.
void FieldAids::writeBankField(const QString& fieldName, const QString& text) {
    if (!ad::looksLikeIban(text)) {
        store_.SetFieldText(fieldName, text);
        return;
    }
    const QString compact = ad::compactIban(text);
    const ad::IbanFault fault = ad::checkIban(compact);
    if (fault != ad::IbanFault::None)
        throw StoreError(ad::ibanFaultText(fault, text));
    const auto german = ad::splitGermanIban(compact);
    if (!german)
        throw StoreError(foreignIbanText(compact));
    store_.SetFieldText(QStringLiteral("BLZ"), german->blz);
    store_.SetFieldText(QStringLiteral("KontoNr"), german->kontoNr);
    fillInstitut(german->blz);
}

// A whole, valid IBAN is taken at once: a German one split into the fields,
// a foreign one offered for the notes. Anything else waits until the field
// is left.
void FieldAids::typedIntoBankField(DBEdit* edit) {
    const QString text = edit->text();
    if (!ad::looksLikeIban(text))
        return;
    const QString compact = ad::compactIban(text);
    if (ad::checkIban(compact) != ad::IbanFault::None)
        return;
    // After the keystroke or paste has finished with the field.
    QPointer<DBEdit> field(edit);
    QTimer::singleShot(0, this, [this, field, text, compact] {
        if (!field || field->text() != text || !field->isPending())
            return;
        if (ad::splitGermanIban(compact))
            runGuarded([&] { field->writePending(); });
        else
            offerForNotes(field, compact);
    });
}

void FieldAids::offerForNotes(DBEdit* edit, const QString& compact) {
    const QString line = QStringLiteral("IBAN: ") + ad::groupInFours(compact);
    if (!confirm(foreignIbanText(compact) + QStringLiteral(".\n\nSoll „%1“ in die Bemerkungen "
                                                           "übernommen werden?")
                                                .arg(line),
                 edit->window()))
        return;
    runGuarded([&] {
        store_.BeginEdit();
        const QString notes = store_.fieldText(QStringLiteral("Memo1"));
        if (!notes.split(QRegularExpression(QStringLiteral("\r?\n"))).contains(line))
            store_.SetFieldText(QStringLiteral("Memo1"),
                                notes.isEmpty() ? line : notes + QStringLiteral("\n") + line);
        edit->revert();
    });
}

void FieldAids::fieldLeft(QWidget* field) {
    if (field == fields_.blz && hasFields({"BLZ", "Institut"}))
        fillInstitut(fields_.blz->text());
}

// An empty "Kreditinstitut" gets the bank's name and place; a typed one stays.
void FieldAids::fillInstitut(const QString& blz) {
    if (!hasFields({"Institut"}) || !store_.fieldText(QStringLiteral("Institut")).isEmpty() ||
        fields_.institut->isPending())
        return;
    const auto bank = banks_.bank(blz);
    if (!bank)
        return;
    const int index = store_.fieldIndex(QStringLiteral("Institut"));
    const int size = store_.fields()[static_cast<std::size_t>(index)].size;
    store_.BeginEdit();
    store_.SetFieldText(QStringLiteral("Institut"), ad::institutText(*bank, size));
}

void FieldAids::showIban() {
    const bool shown = hasFields({"BLZ", "KontoNr"});
    for (QWidget* widget : {static_cast<QWidget*>(iban_), static_cast<QWidget*>(bic_)})
        widget->setVisible(shown);
    for (QLabel* label : std::as_const(labels_))
        label->setVisible(shown);
    const QString blz = fields_.blz->text().trimmed();
    const QString iban = ad::germanIban(blz, fields_.kontoNr->text());
    iban_->setText(ad::groupInFours(iban));
    const auto bank = banks_.bank(blz);
    bic_->setText(bank ? bank->bic : QString());
}

void FieldAids::setWarning(Warning& warning, const QString& text) {
    warning.sign->setVisible(!text.isEmpty());
    warning.sign->setToolTip(text);
    warning.field->setToolTip(text);
    warning.field->setAccessibleDescription(text);
}

void FieldAids::showWarnings() {
    showIban();
    const bool open = store_.IsTableOpen();
    for (Warning& warning : warnings_) {
        QString text;
        // A field the user is typing into is judged when it is left.
        if (open && !warning.field->isPending()) {
            if (warning.field == fields_.blz && hasFields({"BLZ"}))
                text = ad::bankCodeWarning(banks_, fields_.blz->text());
            else if (warning.field == fields_.kontoNr && hasFields({"BLZ", "KontoNr"}) &&
                     !ad::looksLikeIban(fields_.kontoNr->text()))
                text = ad::accountWarning(banks_, fields_.blz->text(), fields_.kontoNr->text());
            else if (warning.field == fields_.plz && hasFields({"PLZ", "Land"}))
                text = ad::postcodeWarning(fields_.land->text(), fields_.plz->text());
        }
        setWarning(warning, text);
    }
}

QString FieldAids::warningOf(const QWidget* field) const {
    for (const Warning& warning : warnings_)
        if (warning.field == field)
            return warning.sign->isVisible() ? warning.sign->toolTip() : QString();
    return QString();
}

} // namespace vellumo::data
