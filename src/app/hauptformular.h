#pragma once

#include <QMainWindow>

namespace Ui {
class THauptformular;
}

// The main window: menus, tool bar, record bar and the entry fields of the
// current address.
class THauptformular : public QMainWindow {
    Q_OBJECT
public:
    explicit THauptformular(QWidget* parent = nullptr);
    ~THauptformular() override;

private:
    Ui::THauptformular* ui;
};
