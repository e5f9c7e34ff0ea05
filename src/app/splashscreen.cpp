#include "app/splashscreen.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

TSplashScreen::TSplashScreen(int minimumMs, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("SplashScreen"));
    setFixedSize(283, 78);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    Timer1.setSingleShot(true);
    connect(&Timer1, &QTimer::timeout, this, &TSplashScreen::Timer1Timer);
    Timer1.start(minimumMs);
}

void TSplashScreen::Timer1Timer() {
    Timer1.stop();
}

void TSplashScreen::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Raised frame around a 283 x 75 picture.
    p.fillRect(rect(), QColor(0xC0, 0xC0, 0xC0));
    p.setPen(Qt::white);
    p.drawLine(0, 0, width() - 1, 0);
    p.drawLine(0, 0, 0, height() - 1);
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawLine(width() - 1, 0, width() - 1, height() - 1);
    p.drawLine(0, height() - 1, width() - 1, height() - 1);

    const QRect picture(1, 1, 281, 75);
    QLinearGradient gradient(picture.topLeft(), picture.bottomRight());
    gradient.setColorAt(0, QColor(0x1F, 0x3A, 0x68));
    gradient.setColorAt(1, QColor(0x3E, 0x6F, 0xB0));
    p.fillRect(picture, gradient);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::white);
    QFont title(QStringLiteral("Liberation Sans"));
    title.setPixelSize(30);
    title.setBold(true);
    p.setFont(title);
    p.drawText(picture.adjusted(16, 6, -8, -28), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Vellumo"));
    QFont sub(QStringLiteral("Liberation Sans"));
    sub.setPixelSize(12);
    p.setFont(sub);
    p.drawText(picture.adjusted(18, 44, -8, -6), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Adressverwaltung  ·  Version 2.5"));
}
