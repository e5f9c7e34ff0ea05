#include "print/formqrliste.h"

#include "platform/database/datasource.h"

TFormQRListe::TFormQRListe(vellumo::DataSource& source, QWidget* parent)
    : QWidget(parent), ListStyle(&rows_), rows_(source.store()) {
    setObjectName(QStringLiteral("FormQRListe"));
    setWindowTitle(QStringLiteral("FormQRListe"));
    setFont(vellumo::report::reportFont(QStringLiteral("Arial"), 11));
}
