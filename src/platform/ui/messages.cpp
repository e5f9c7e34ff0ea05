#include "platform/ui/messages.h"

#include "platform/ui/placement.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
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

// A path has no blank to wrap at, so the box would grow as wide as the screen
// and the window manager would cut it. Words wider than a box should be get
// invisible break opportunities after their separators.
QString wrappable(const QString& text, const QFont& font) {
    constexpr int widestWord = 360;
    const QFontMetrics metrics(font);
    QString result;
    result.reserve(text.size());
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && !text.at(end).isSpace())
            ++end;
        const QString word = text.mid(start, end - start);
        if (metrics.horizontalAdvance(word) <= widestWord) {
            result += word;
        } else {
            int run = 0;
            for (const QChar c : word) {
                result += c;
                ++run;
                if (c == QLatin1Char('/') || c == QLatin1Char('\\') || run >= 40) {
                    result += QChar(0x200B);
                    run = 0;
                }
            }
        }
        while (end < text.size() && text.at(end).isSpace())
            result += text.at(end++);
        start = end;
    }
    return result;
}

void showBox(QMessageBox::Icon icon, const QString& title, const QString& text, QWidget* parent) {
    QMessageBox box(icon, title, QString(), QMessageBox::NoButton, ownerOr(parent));
    box.setText(wrappable(text, box.font()));
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

namespace {
bool ask(const QString& text, QWidget* parent, bool yesIsDefault) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigen"), QString(),
                    QMessageBox::NoButton, ownerOr(parent));
    box.setText(wrappable(text, box.font()));
    QPushButton* yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
    box.setDefaultButton(yesIsDefault ? yes : no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}
} // namespace

bool confirm(const QString& text, QWidget* parent) {
    return ask(text, parent, true);
}

bool confirmDefaultNo(const QString& text, QWidget* parent) {
    return ask(text, parent, false);
}

void showNotAvailable(QWidget* parent) {
    showInformation(QString::fromUtf8(kNotAvailableText), parent);
}

QString askSaveFileName(QWidget* parent, const QString& objectName, const QString& title,
                        const QString& filter, const QString& proposed, QString& folder) {
    QFileDialog dialog(parent, title);
    dialog.setObjectName(objectName);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(QFileInfo(proposed).suffix());
    dialog.setDirectory(folder.isEmpty() ? QDir::currentPath() : folder);
    dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString chosen = dialog.selectedFiles().constFirst();
    folder = QFileInfo(chosen).absolutePath();
    return chosen;
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
    label->setBuddy(edit); // a screen reader names the field by the prompt
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
    centreWhenShown(&dialog);
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
