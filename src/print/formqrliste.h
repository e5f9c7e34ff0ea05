// The address list report layout on the shared cursor's rows, held by a
// never-shown window as the program's other windows are.
#pragma once

#include "print/liststyle.h"
#include "print/storerows.h"

#include <QWidget>

namespace vellumo {
class DataSource;
}

class TFormQRListe : public QWidget, public vellumo::print::ListStyle {
public:
    explicit TFormQRListe(vellumo::DataSource& source, QWidget* parent = nullptr);

private:
    vellumo::print::StoreRows rows_; // only its address is taken before it is made
};
