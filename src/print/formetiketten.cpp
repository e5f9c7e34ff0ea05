#include "print/formetiketten.h"

#include "platform/database/datasource.h"
#include "platform/report/output.h"
#include "platform/settings/profile.h"
#include "platform/ui/messages.h"
#include "platform/ui/placement.h"
#include "print/printdialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QVBoxLayout>

namespace vellumo::print {

namespace {

const QString kSection = QStringLiteral("Etiketten");

QString fontText(const QFont& font) {
    return QStringLiteral("%1, %2 pt").arg(font.family()).arg(font.pointSize());
}

} // namespace

// ---- SheetPicker ----------------------------------------------------------------

SheetPicker::SheetPicker(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Erstes Etikett auf dem Bogen"));
    setToolTip(QStringLiteral("Klicken Sie das erste freie Etikett eines angebrochenen Bogens an "
                              "(Pfeiltasten wählen es auch)."));
}

QSize SheetPicker::sizeHint() const {
    return {150, 200};
}

void SheetPicker::setFormat(const labels::LabelFormat& format) {
    format_ = format;
    setStart(std::clamp(start_, 1, std::max(1, format_.labelsPerSheet())));
    update();
}

void SheetPicker::setStart(int start) {
    start = std::clamp(start, 1, std::max(1, format_.labelsPerSheet()));
    if (start == start_)
        return;
    start_ = start;
    update();
    emit startChanged(start_);
}

QRectF SheetPicker::sheetRect() const {
    if (format_.page.isEmpty())
        return {};
    const QRectF room = QRectF(rect()).adjusted(4, 4, -4, -4);
    const double scale =
        std::min(room.width() / format_.page.width(), room.height() / format_.page.height());
    const QSizeF size = format_.page * scale;
    return QRectF(room.center() - QPointF(size.width(), size.height()) / 2, size);
}

void SheetPicker::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF sheet = sheetRect();
    if (sheet.isEmpty())
        return;
    const double scale = sheet.width() / format_.page.width();
    p.fillRect(sheet, Qt::white);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(sheet);
    for (int i = 0; i < format_.labelsPerSheet(); ++i) {
        const QRectF mm = format_.cell(i);
        const QRectF cell(sheet.topLeft() + mm.topLeft() * scale, mm.size() * scale);
        const QColor fill = i + 1 < start_    ? palette().color(QPalette::Mid)
                            : i + 1 == start_ ? palette().color(QPalette::Highlight)
                                              : palette().color(QPalette::Base);
        p.fillRect(cell.adjusted(1, 1, -1, -1), fill);
        p.drawRect(cell.adjusted(1, 1, -1, -1));
    }
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 2, Qt::DotLine));
        p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}

void SheetPicker::mousePressEvent(QMouseEvent* event) {
    const QRectF sheet = sheetRect();
    if (sheet.isEmpty())
        return;
    const double scale = sheet.width() / format_.page.width();
    const QPointF mm = (event->position() - sheet.topLeft()) / scale;
    for (int i = 0; i < format_.labelsPerSheet(); ++i)
        if (format_.cell(i).contains(mm))
            setStart(i + 1);
}

void SheetPicker::keyPressEvent(QKeyEvent* event) {
    const int columns = format_.grids.isEmpty() ? 1 : format_.grids.first().nx;
    switch (event->key()) {
    case Qt::Key_Left:
        setStart(start_ - 1);
        break;
    case Qt::Key_Right:
        setStart(start_ + 1);
        break;
    case Qt::Key_Up:
        setStart(start_ - columns);
        break;
    case Qt::Key_Down:
        setStart(start_ + columns);
        break;
    case Qt::Key_Home:
        setStart(1);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

// ---- TFormEtiketten -------------------------------------------------------------

TFormEtiketten::TFormEtiketten(DataSource& source, QWidget* parent)
    : QDialog(parent), rows_(source.store()) {
    setObjectName(QStringLiteral("FormEtiketten"));
    setWindowTitle(QStringLiteral("Etiketten drucken"));

    search_ = new QLineEdit(this);
    search_->setPlaceholderText(QStringLiteral("Hersteller oder Nummer, z. B. 3474"));
    search_->setClearButtonEnabled(true);
    formats_ = new QListWidget(this);
    formats_->setMinimumWidth(340);
    // Long names are cut with "…" and told in full by the line below the list.
    formats_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    formats_->setTextElideMode(Qt::ElideRight);
    formats_->setUniformItemSizes(true);
    formatInfo_ = new QLabel(this);
    formatInfo_->setWordWrap(true);
    auto* searchLabel = new QLabel(QStringLiteral("&Etikettenbogen:"), this);
    searchLabel->setBuddy(search_);
    formats_->setAccessibleName(QStringLiteral("Etikettenbögen"));

    picker_ = new SheetPicker(this);
    auto* pickerLabel = new QLabel(QStringLiteral("Erstes E&tikett:"), this);
    pickerLabel->setBuddy(picker_);
    household_ = new QCheckBox(QStringLiteral("Ein Etikett je &Haushalt"), this);
    household_->setToolTip(QStringLiteral("Wer dieselbe Straße, PLZ und Ort hat, bekommt ein "
                                          "gemeinsames Etikett."));
    fontButton_ = new QPushButton(this);
    fontButton_->setAccessibleName(QStringLiteral("Schrift wählen"));

    correctionX_ = new QDoubleSpinBox(this);
    correctionY_ = new QDoubleSpinBox(this);
    for (QDoubleSpinBox* box : {correctionX_, correctionY_}) {
        box->setRange(-20, 20);
        box->setSingleStep(0.1);
        box->setDecimals(1);
        box->setSuffix(QStringLiteral(" mm"));
    }
    auto* calibrate = new QPushButton(QStringLiteral("&Kalibrierseite drucken"), this);

    auto* left = new QVBoxLayout;
    left->addWidget(searchLabel);
    left->addWidget(search_);
    left->addWidget(formats_, 1);
    left->addWidget(formatInfo_);

    auto* correction = new QGroupBox(QStringLiteral("Druckerkorrektur"), this);
    auto* correctionForm = new QFormLayout(correction);
    correctionForm->addRow(QStringLiteral("Nach &rechts:"), correctionX_);
    correctionForm->addRow(QStringLiteral("Nach &unten:"), correctionY_);
    correctionForm->addRow(calibrate);

    auto* right = new QVBoxLayout;
    right->addWidget(pickerLabel);
    right->addWidget(picker_, 1);
    right->addWidget(household_);
    auto* fontRow = new QHBoxLayout;
    auto* fontLabel = new QLabel(QStringLiteral("&Schrift:"), this);
    fontLabel->setBuddy(fontButton_);
    fontRow->addWidget(fontLabel);
    fontRow->addWidget(fontButton_, 1);
    right->addLayout(fontRow);
    right->addWidget(correction);

    auto* buttons = new QDialogButtonBox(this);
    auto* preview = buttons->addButton(QStringLiteral("&Vorschau"), QDialogButtonBox::ActionRole);
    auto* print = buttons->addButton(QStringLiteral("&Drucken"), QDialogButtonBox::AcceptRole);
    auto* pdf =
        buttons->addButton(QStringLiteral("Als &PDF speichern …"), QDialogButtonBox::ActionRole);
    buttons->addButton(QStringLiteral("Schließen"), QDialogButtonBox::RejectRole);
    print->setDefault(true);

    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 3);
    columns->addLayout(right, 2);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(columns);
    outer->addWidget(buttons);

    connect(search_, &QLineEdit::textChanged, this, [this] { fillFormats(); });
    connect(formats_, &QListWidget::currentRowChanged, this, [this] { formatChosen(); });
    connect(fontButton_, &QPushButton::clicked, this, guarded([this] { chooseFont(); }));
    connect(preview, &QPushButton::clicked, this, guarded([this] { run("vorschau"); }));
    connect(print, &QPushButton::clicked, this, guarded([this] { run("drucken"); }));
    connect(pdf, &QPushButton::clicked, this, guarded([this] { run("pdf"); }));
    connect(calibrate, &QPushButton::clicked, this, guarded([this] { run("kalibrierung"); }));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    const QString ini = setupIniPath();
    font_ = QFont(ReadSettingText(ini, kSection, QStringLiteral("Schrift"),
                                  QStringLiteral("Liberation Sans")));
    font_.setPointSize(
        std::clamp(ReadSettingNumber(ini, kSection, QStringLiteral("Groesse"), 10), 8, 72));
    fontButton_->setText(fontText(font_));
    household_->setChecked(ReadSettingNumber(ini, kSection, QStringLiteral("Haushalt"), 0) != 0);
    const QStringList shift =
        ReadSettingText(ini, kSection, correctionKey(), QString()).split(QLatin1Char(';'));
    correctionX_->setValue(shift.value(0).toDouble());
    correctionY_->setValue(shift.value(1).toDouble());
    fillFormats();
    centreWhenShown(this);
}

TFormEtiketten::~TFormEtiketten() = default;

QString TFormEtiketten::correctionKey() const {
    // Every printer shifts the page its own way: one correction per printer.
    const QString printer = QPrinterInfo::defaultPrinterName();
    return printer.isEmpty() ? QStringLiteral("Korrektur") : QStringLiteral("Korrektur ") + printer;
}

void TFormEtiketten::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The sheet chosen last time is in sight, not somewhere down the list.
    if (QListWidgetItem* item = formats_->currentItem())
        formats_->scrollToItem(item, QAbstractItemView::PositionAtCenter);
}

void TFormEtiketten::fillFormats() {
    const QString wanted = formats_->currentItem()
                               ? formats_->currentItem()->data(Qt::UserRole).toString()
                               : ReadSettingText(setupIniPath(), kSection, QStringLiteral("Bogen"),
                                                 QStringLiteral("Zweckform 3474"));
    const QSignalBlocker block(formats_);
    formats_->clear();
    int current = -1;
    for (const labels::LabelFormat& f : LabelStyle::catalogue().search(search_->text())) {
        auto* item =
            new QListWidgetItem(QStringLiteral("%1 – %2").arg(f.name(), f.summary()), formats_);
        item->setData(Qt::UserRole, f.name());
        item->setToolTip(f.description);
        if (f.name() == wanted)
            current = formats_->count() - 1;
    }
    formats_->setCurrentRow(current >= 0 ? current : 0);
    formatChosen();
}

void TFormEtiketten::formatChosen() {
    const QListWidgetItem* item = formats_->currentItem();
    const auto format =
        item ? LabelStyle::catalogue().find(item->data(Qt::UserRole).toString()) : std::nullopt;
    if (!format) {
        formatInfo_->setText(QStringLiteral("Kein Etikettenbogen passt zur Suche."));
        return;
    }
    formatInfo_->setText(QStringLiteral("%1 (%2)").arg(format->summary(), format->description));
    picker_->setFormat(*format);
}

void TFormEtiketten::chooseFont() {
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, font_, this, QStringLiteral("Schrift"));
    if (!ok)
        return;
    font_ = chosen;
    fontButton_->setText(fontText(font_));
}

void TFormEtiketten::applyTo(LabelStyle& style) const {
    if (const QListWidgetItem* item = formats_->currentItem())
        style.setOption(QStringLiteral("Format"), item->data(Qt::UserRole).toString());
    style.setOption(QStringLiteral("Start"), picker_->start());
    style.setOption(QStringLiteral("Haushalt"), household_->isChecked());
    style.setOption(QStringLiteral("Schrift"), font_.family());
    style.setOption(QStringLiteral("Groesse"), font_.pointSizeF());
    style.setOption(QStringLiteral("KorrekturX"), correctionX_->value());
    style.setOption(QStringLiteral("KorrekturY"), correctionY_->value());
}

void TFormEtiketten::run(const char* what) {
    if (!formats_->currentItem())
        throw report::ReportError(QStringLiteral("Bitte wählen Sie einen Etikettenbogen"));
    LabelStyle style(&rows_);
    applyTo(style);
    const QByteArray action(what);
    style.setOption(QStringLiteral("Kalibrierung"), action == "kalibrierung");
    style.setOption(QStringLiteral("Markieren"), action == "vorschau");

    // What worked last time is offered next time.
    keepChoices(kSection, {{QStringLiteral("Bogen"), style.format().name()},
                           {QStringLiteral("Schrift"), font_.family()},
                           {QStringLiteral("Groesse"), QString::number(font_.pointSize())},
                           {QStringLiteral("Haushalt"),
                            household_->isChecked() ? QStringLiteral("1") : QStringLiteral("0")},
                           {correctionKey(), QStringLiteral("%1;%2")
                                                 .arg(correctionX_->value(), 0, 'f', 1)
                                                 .arg(correctionY_->value(), 0, 'f', 1)}});

    if (action == "vorschau")
        report::Preview(style.report(), this);
    else if (action == "pdf")
        report::savePdfAs(style.report(), style.geometry(), this);
    else
        report::Print(style.report(), this);
}

} // namespace vellumo::print
