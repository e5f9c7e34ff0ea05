#include "ui/messages.h"

#include <QApplication>
#include <QMessageBox>

namespace vellumo {

void showError(const QString& text, QWidget* parent) {
    QString shown = text;
    if (!shown.endsWith(QLatin1Char('.')))
        shown += QLatin1Char('.');
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vellumo"), shown, QMessageBox::NoButton,
                    parent);
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

} // namespace vellumo
