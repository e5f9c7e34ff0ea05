#include "aids/tcalendar.h"

#include "aids/calendarrules.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

using namespace vellumo::aids;

TCalendar::TCalendar(QWidget* parent) : QWidget(parent), date_(QDate::currentDate()) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TCalendar::setDate(const QDate& date) {
    if (!date.isValid() || date == date_)
        return;
    date_ = date;
    update();
    emit dateChanged(date_);
}

QRect TCalendar::cellRect(int row, int column) const {
    // The cells share the area evenly; the remainder goes to the first ones.
    auto edge = [](int index, int count, int length) { return index * length / count; };
    const int left = edge(column, kColumns, width());
    const int right = edge(column + 1, kColumns, width());
    const int top = edge(row, kRows, height());
    const int bottom = edge(row + 1, kRows, height());
    return QRect(left, top, right - left, bottom - top);
}

QString TCalendar::cellText(int row, int column) const {
    if (row == 0)
        return germanWeekdayAbbreviation(column);
    const int day = dayInCell(date_, row - 1, column);
    return day ? QString::number(day) : QString();
}

bool TCalendar::isSelectable(int row, int column) const {
    return row >= 1 && dayInCell(date_, row - 1, column) != 0;
}

QPoint TCalendar::selectedCell() const {
    const GridCell cell = cellOfDay(date_, date_.day());
    return QPoint(cell.column, cell.row + 1);
}

bool TCalendar::cellAt(QPoint position, int& row, int& column) const {
    for (row = 0; row < kRows; ++row)
        for (column = 0; column < kColumns; ++column)
            if (cellRect(row, column).contains(position))
                return true;
    return false;
}

void TCalendar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.fillRect(rect(), pal.color(QPalette::Base));
    const QPoint selected = selectedCell();
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const QRect cell = cellRect(row, column);
            QColor text = pal.color(QPalette::Text);
            if (row == 0) {
                painter.fillRect(cell, pal.color(QPalette::Button));
                text = pal.color(QPalette::ButtonText);
            } else if (selected == QPoint(column, row)) {
                painter.fillRect(cell, pal.color(QPalette::Highlight));
                text = pal.color(QPalette::HighlightedText);
            }
            painter.setPen(pal.color(QPalette::Mid));
            painter.drawRect(cell.adjusted(0, 0, -1, -1));
            painter.setPen(text);
            painter.drawText(cell, Qt::AlignCenter, cellText(row, column));
        }
    }
    if (hasFocus()) {
        painter.setPen(QPen(pal.color(QPalette::Text), 1, Qt::DotLine));
        painter.drawRect(cellRect(selected.y(), selected.x()).adjusted(1, 1, -2, -2));
    }
}

void TCalendar::mousePressEvent(QMouseEvent* event) {
    int row = 0;
    int column = 0;
    if (event->button() != Qt::LeftButton || !cellAt(event->position().toPoint(), row, column) ||
        !isSelectable(row, column))
        return;
    setDate(QDate(date_.year(), date_.month(), dayInCell(date_, row - 1, column)));
}

void TCalendar::keyPressEvent(QKeyEvent* event) {
    // The arrows move within the month shown; the step buttons change months.
    int step = 0;
    switch (event->key()) {
    case Qt::Key_Left:
        step = -1;
        break;
    case Qt::Key_Right:
        step = 1;
        break;
    case Qt::Key_Up:
        step = -7;
        break;
    case Qt::Key_Down:
        step = 7;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    const QDate target = date_.addDays(step);
    if (target.month() == date_.month() && target.year() == date_.year())
        setDate(target);
}

Label3D::Label3D(QWidget* parent) : QLabel(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

qreal Label3D::shadowDepth() const {
    return QFontMetricsF(font()).height() * kShadowFraction;
}

void Label3D::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    // Text and shadow share the label: the text gives up the shadow's depth
    // at the right and bottom, so the copy is never cut off, and the depth
    // follows the text, so it looks alike at every display scale (in
    // fractions of a device pixel where the scale asks for them).
    const qreal depth = shadowDepth();
    const QRectF area = QRectF(contentsRect()).adjusted(0, 0, -depth, -depth);
    painter.setPen(QColor(Qt::gray));
    painter.drawText(area.translated(depth, depth), static_cast<int>(alignment()), text());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, static_cast<int>(alignment()), text());
}
