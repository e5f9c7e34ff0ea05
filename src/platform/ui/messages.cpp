#include "ui/messages.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace vellumo {
namespace {

QWidget* ownerOr(QWidget* parent) {
    return parent ? parent : QApplication::activeWindow();
}

void showBox(QMessageBox::Icon icon, const QString& title, const QString& text, QWidget* parent) {
    QMessageBox box(icon, title, text, QMessageBox::NoButton, ownerOr(parent));
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

} // namespace

void showError(const QString& text, QWidget* parent) {
    QString shown = text;
    if (!shown.endsWith(QLatin1Char('.')))
        shown += QLatin1Char('.');
    showBox(QMessageBox::Critical, QStringLiteral("Vellumo"), shown, parent);
}

void showInformation(const QString& text, QWidget* parent) {
    showBox(QMessageBox::Information, QStringLiteral("Information"), text, parent);
}

void showErrorMessage(const QString& text, QWidget* parent) {
    showBox(QMessageBox::Critical, QStringLiteral("Fehler"), text, parent);
}

bool confirm(const QString& text, QWidget* parent) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigen"), text,
                    QMessageBox::NoButton, ownerOr(parent));
    QPushButton* yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void showNotAvailable(QWidget* parent) {
    showInformation(QString::fromUtf8(kNotAvailableText), parent);
}

bool inputQuery(const QString& title, const QString& prompt, QString& value, QWidget* parent) {
    QDialog dialog(ownerOr(parent), Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                        Qt::MSWindowsFixedSizeDialogHint);
    dialog.setObjectName(QStringLiteral("InputQuery"));
    dialog.setWindowTitle(title);

    const int width = 300;
    auto* label = new QLabel(prompt, &dialog);
    label->setObjectName(QStringLiteral("Prompt"));
    label->setGeometry(10, 10, width - 20, label->sizeHint().height());

    auto* edit = new QLineEdit(&dialog);
    edit->setObjectName(QStringLiteral("Edit"));
    edit->setMaxLength(255);
    edit->setText(value.left(255));
    edit->selectAll();
    const int editTop = label->geometry().bottom() + 6;
    edit->setGeometry(10, editTop, width - 20, 21);

    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setObjectName(QStringLiteral("OkButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Abbrechen"), &dialog);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    const int buttonTop = editTop + 21 + 14;
    ok->setGeometry(width / 2 - 80, buttonTop, 75, 25);
    cancel->setGeometry(width / 2 + 5, buttonTop, 75, 25);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);

    dialog.setFixedSize(width, buttonTop + 25 + 10);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        dialog.move(screen->availableGeometry().center() - dialog.rect().center());
    edit->setFocus();

    if (dialog.exec() != QDialog::Accepted)
        return false;
    value = edit->text();
    return true;
}

QString errorText(const std::exception& error) {
    return QString::fromUtf8(error.what());
}

void runGuarded(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        showError(errorText(error));
    } catch (...) {
        showError(QStringLiteral("Unbekannter Fehler"));
    }
}

} // namespace vellumo
