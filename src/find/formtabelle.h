// The table view: all visible records in a grid, ten fields wide.
#pragma once

#include <QDialog>

namespace Ui {
class TFormTabelle;
}
namespace vellumo {
class DataSource;
class DBGrid;
} // namespace vellumo

class TFormTabelle : public QDialog {
    Q_OBJECT
public:
    explicit TFormTabelle(vellumo::DataSource& source, QWidget* parent = nullptr);
    ~TFormTabelle() override;

    vellumo::DBGrid* grid() const;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ButtonExitClick();
    void FormKeyPress(QChar key);
    void FormResize();

    Ui::TFormTabelle* ui;
    vellumo::DataSource& source_;
};
