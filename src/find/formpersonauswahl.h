// The person selection list: picks one of several matches of a search.
#pragma once

#include <QDialog>

namespace Ui {
class TFormPersonAuswahl;
}
namespace vellumo {
class DataSource;
class DBGrid;
} // namespace vellumo

class TFormPersonAuswahl : public QDialog {
    Q_OBJECT
public:
    explicit TFormPersonAuswahl(vellumo::DataSource& source, QWidget* parent = nullptr);
    ~TFormPersonAuswahl() override;

    vellumo::DBGrid* grid() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void BitBtn1Click();
    void FormKeyPress(QChar key);

    Ui::TFormPersonAuswahl* ui;
    vellumo::DataSource& source_;
};
