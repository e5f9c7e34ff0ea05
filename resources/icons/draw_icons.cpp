// Draws the pictures of the tool bar and record buttons into PNG files.
// The PNGs are committed; run this only to change a picture:
//
//   g++ -std=c++20 -fPIC $(pkg-config --cflags Qt6Gui) draw_icons.cpp \
//       $(pkg-config --libs Qt6Gui) -o /tmp/draw_icons && /tmp/draw_icons .
//
// Tool bar pictures are 20 x 20 (the two picture buttons 40 x 20) inside 25 x 25
// buttons; record pictures are 16 x 16 inside 22 x 22 buttons. Shapes sit on
// whole pixels so they stay sharp at those sizes.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace {

QString outDir;

const QColor ink(0x20, 0x20, 0x20);
const QColor paper(0xFF, 0xFF, 0xFF);
const QColor blue(0x1F, 0x5A, 0xA6);
const QColor lightBlue(0x9C, 0xC3, 0xEE);
const QColor yellow(0xF2, 0xC2, 0x3A);
const QColor green(0x2E, 0x8B, 0x3A);
const QColor red(0xC0, 0x28, 0x28);
const QColor grey(0x80, 0x80, 0x80);

// Each picture is drawn twice: at its size, and at twice its size for screens
// scaled beyond 100 % (Qt takes "name@2x.png" beside "name.png" there), so
// that no scaled screen shows a blown-up, blurred copy.
// A picture shown larger than drawn (the envelope dialog's 32-pixel print
// button) is drawn at that size with zoom.
void save(const char* name, int w, int h, const std::function<void(QPainter&)>& draw,
          double zoom = 1.0) {
    for (const int scale : {1, 2}) {
        const double factor = zoom * scale;
        QImage image(int(w * factor), int(h * factor), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, zoom != 1.0);
        p.scale(factor, factor);
        draw(p);
        p.end();
        const QString suffix = scale == 1 ? QStringLiteral(".png") : QStringLiteral("@2x.png");
        const QString path = outDir + QLatin1Char('/') + QString::fromLatin1(name) + suffix;
        if (!image.save(path))
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    }
}

// A sheet of paper with a folded corner.
void sheet(QPainter& p, int x, int y, int w, int h) {
    QPolygon outline;
    outline << QPoint(x, y) << QPoint(x + w - 5, y) << QPoint(x + w, y + 5) << QPoint(x + w, y + h)
            << QPoint(x, y + h);
    p.setPen(ink);
    p.setBrush(paper);
    p.drawPolygon(outline);
    p.drawLine(x + w - 5, y, x + w - 5, y + 5);
    p.drawLine(x + w - 5, y + 5, x + w, y + 5);
}

void lines(QPainter& p, int x, int y, int w, int count, int step = 2) {
    p.setPen(grey);
    for (int i = 0; i < count; ++i)
        p.drawLine(x, y + i * step, x + w, y + i * step);
}

void triangle(QPainter& p, const QColor& colour, QPoint a, QPoint b, QPoint c) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(colour.darker(130), 1));
    p.setBrush(colour);
    p.drawPolygon(QPolygon() << a << b << c);
    p.setRenderHint(QPainter::Antialiasing, false);
}

void picture(QPainter& p, int x, int y) {
    // A framed landscape: sky, sun, hill.
    p.setPen(ink);
    p.setBrush(lightBlue);
    p.drawRect(x, y, 18, 14);
    p.setBrush(yellow);
    p.setPen(Qt::NoPen);
    p.drawEllipse(x + 11, y + 2, 5, 5);
    p.setBrush(green);
    QPolygon hill;
    hill << QPoint(x + 1, y + 14) << QPoint(x + 1, y + 10) << QPoint(x + 6, y + 6)
         << QPoint(x + 11, y + 11) << QPoint(x + 14, y + 9) << QPoint(x + 18, y + 12)
         << QPoint(x + 18, y + 14);
    p.drawPolygon(hill);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");

    save("neu", 20, 20, [](QPainter& p) {
        sheet(p, 4, 1, 12, 17);
        lines(p, 6, 8, 7, 4, 2);
        p.setPen(yellow.darker(120));
        p.drawLine(14, 13, 19, 18);
        p.drawLine(19, 13, 14, 18);
        p.drawLine(16, 12, 16, 19);
        p.drawLine(13, 15, 19, 15);
    });
    save("oeffnen", 20, 20, [](QPainter& p) {
        p.setPen(ink);
        p.setBrush(yellow.darker(115));
        p.drawPolygon(QPolygon() << QPoint(1, 4) << QPoint(7, 4) << QPoint(9, 6) << QPoint(16, 6)
                                 << QPoint(16, 17) << QPoint(1, 17));
        p.setBrush(yellow);
        p.drawPolygon(QPolygon() << QPoint(1, 17) << QPoint(5, 9) << QPoint(19, 9)
                                 << QPoint(16, 17));
    });
    const auto envelope = [](QPainter& p) {
        p.setPen(ink);
        p.setBrush(paper);
        p.drawRect(1, 4, 18, 12);
        p.drawLine(1, 4, 10, 11);
        p.drawLine(19, 4, 10, 11);
        p.fillRect(15, 6, 3, 3, red);
        lines(p, 4, 13, 6, 1);
    };
    save("umschlag", 20, 20, envelope);
    save("umschlag_gross", 20, 20, envelope, 1.6);
    save("liste", 20, 20, [](QPainter& p) {
        // A printer with a list coming out of it.
        sheet(p, 5, 1, 10, 9);
        lines(p, 7, 4, 5, 3, 2);
        p.setPen(ink);
        p.setBrush(QColor(0xD0, 0xD0, 0xD0));
        p.drawRect(1, 10, 18, 7);
        p.fillRect(4, 12, 12, 2, ink);
        p.fillRect(15, 15, 2, 1, green);
    });
    save("etiketten", 20, 20, [](QPainter& p) {
        // A sheet of labels, two across and three down, the first written on.
        p.setPen(ink);
        p.setBrush(paper);
        p.drawRect(2, 1, 16, 18);
        p.setBrush(lightBlue);
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < 2; ++column)
                p.drawRect(4 + column * 7, 3 + row * 5, 5, 3);
        p.setPen(blue.darker(140));
        p.drawLine(5, 5, 7, 5);
    });
    save("ausschneiden", 20, 20, [](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(grey.darker(120), 1.5));
        p.drawLine(QPointF(6, 2), QPointF(12.5, 13));
        p.drawLine(QPointF(14, 2), QPointF(7.5, 13));
        p.setPen(QPen(blue, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(6, 15.5), 3, 3);
        p.drawEllipse(QPointF(14, 15.5), 3, 3);
    });
    save("kopieren", 20, 20, [](QPainter& p) {
        sheet(p, 1, 1, 10, 13);
        lines(p, 3, 6, 5, 3);
        sheet(p, 8, 6, 10, 13);
        lines(p, 10, 11, 5, 4);
    });
    save("einfuegen", 20, 20, [](QPainter& p) {
        p.setPen(ink);
        p.setBrush(QColor(0xB5, 0x83, 0x4A));
        p.drawRect(2, 3, 12, 15);
        p.setBrush(QColor(0xC8, 0xC8, 0xC8));
        p.drawRect(5, 1, 6, 4);
        sheet(p, 9, 7, 9, 12);
        lines(p, 11, 11, 5, 4);
    });
    save("suchen", 20, 20, [](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(ink, 1.5));
        p.setBrush(lightBlue);
        p.drawEllipse(QPointF(8, 8), 5.5, 5.5);
        p.setPen(QPen(QColor(0x6B, 0x45, 0x1F), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(12.5, 12.5), QPointF(17.5, 17.5));
    });
    save("tabelle", 20, 20, [](QPainter& p) {
        p.setPen(ink);
        p.setBrush(paper);
        p.drawRect(1, 2, 18, 15);
        p.fillRect(2, 3, 17, 3, lightBlue);
        p.setPen(grey);
        for (int y = 6; y < 17; y += 3)
            p.drawLine(2, y, 18, y);
        p.drawLine(7, 3, 7, 16);
        p.drawLine(13, 3, 13, 16);
    });
    save("bild_ansehen", 40, 20, [](QPainter& p) {
        picture(p, 1, 3);
        // An eye beside the picture.
        p.setRenderHint(QPainter::Antialiasing, true);
        QPainterPath eye;
        eye.moveTo(22, 10);
        eye.quadTo(30, 2, 38, 10);
        eye.quadTo(30, 18, 22, 10);
        p.setPen(QPen(ink, 1));
        p.setBrush(paper);
        p.drawPath(eye);
        p.setBrush(blue);
        p.drawEllipse(QPointF(30, 10), 3, 3);
        p.setBrush(ink);
        p.drawEllipse(QPointF(30, 10), 1.2, 1.2);
    });
    save("bild_speichern", 40, 20, [](QPainter& p) {
        picture(p, 20, 3);
        // A file with an arrow into the picture.
        sheet(p, 1, 2, 10, 14);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(green, 2));
        p.drawLine(QPointF(8, 10), QPointF(16, 10));
        p.setBrush(green);
        p.setPen(Qt::NoPen);
        p.drawPolygon(QPolygonF() << QPointF(15, 6) << QPointF(20, 10) << QPointF(15, 14));
    });
    save("beenden", 20, 20, [](QPainter& p) {
        // An open door with an arrow leaving through it.
        p.setPen(ink);
        p.setBrush(QColor(0x8B, 0x5A, 0x2B));
        p.drawRect(2, 1, 10, 17);
        p.setBrush(QColor(0x3A, 0x24, 0x10));
        p.drawPolygon(QPolygon() << QPoint(2, 1) << QPoint(7, 3) << QPoint(7, 19) << QPoint(2, 18));
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(red, 2));
        p.drawLine(QPointF(10, 10), QPointF(16, 10));
        p.setBrush(red);
        p.setPen(Qt::NoPen);
        p.drawPolygon(QPolygonF() << QPointF(15, 6) << QPointF(19.5, 10) << QPointF(15, 14));
    });

    // Record bar, 16 x 16.
    save("erster", 16, 16, [](QPainter& p) {
        p.fillRect(3, 3, 2, 10, blue);
        triangle(p, blue, QPoint(13, 3), QPoint(13, 13), QPoint(6, 8));
    });
    save("voriger", 16, 16,
         [](QPainter& p) { triangle(p, blue, QPoint(11, 3), QPoint(11, 13), QPoint(4, 8)); });
    save("naechster", 16, 16,
         [](QPainter& p) { triangle(p, blue, QPoint(5, 3), QPoint(5, 13), QPoint(12, 8)); });
    save("letzter", 16, 16, [](QPainter& p) {
        triangle(p, blue, QPoint(3, 3), QPoint(3, 13), QPoint(10, 8));
        p.fillRect(11, 3, 2, 10, blue);
    });
    save("hinzufuegen", 16, 16, [](QPainter& p) {
        p.fillRect(7, 2, 3, 12, green);
        p.fillRect(2, 7, 12, 3, green);
    });
    save("loeschen", 16, 16, [](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(red, 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
    });
    return 0;
}
