#pragma once

#include <QTimer>
#include <QWidget>

// The borderless window shown while the program starts. It agrees to close
// only after its timer has fired once, so it stays up for a minimum time
// however fast the start is.
class TSplashScreen : public QWidget {
    Q_OBJECT
public:
    explicit TSplashScreen(int minimumMs, QWidget* parent = nullptr);

    // The close query: true once the timer has fired.
    bool FormCloseQuery() const { return !Timer1.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Timer1Timer();
    QTimer Timer1;
};
