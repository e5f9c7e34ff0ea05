#include "app/hauptformular.h"

#include "ui_hauptformular.h"

THauptformular::THauptformular(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::THauptformular) {
    ui->setupUi(this);
}

THauptformular::~THauptformular() { delete ui; }
