// The about box: product name, version, author and contact lines. Made once
// at start-up and only hidden between showings; the main window stays usable
// while it is open.
#pragma once

#include <QDialog>

namespace Ui {
class TAboutBox;
}

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void OKButtonClick();
    bool FormKeyPress(int key);

    Ui::TAboutBox* ui;
    bool placed_ = false;
};

namespace vellumo::aids {

// "&Info ...": shows the box without blocking, or brings it to the front when
// it is open already. Does nothing without a box.
void Info1Click(TAboutBox* box);

} // namespace vellumo::aids
