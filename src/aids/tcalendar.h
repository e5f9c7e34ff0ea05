// The widgets of the birthday calendar: the month grid and the labels with
// their sunken look.
#pragma once

#include <QDate>
#include <QLabel>
#include <QRect>
#include <QWidget>

// The month grid: a header row of weekday abbreviations (Sunday first) and
// six week rows with the days of the month shown. It holds one date; a click
// on a day selects it, blank and header cells cannot be selected.
class TCalendar : public QWidget {
    Q_OBJECT
public:
    explicit TCalendar(QWidget* parent = nullptr);

    QDate date() const { return date_; }
    void setDate(const QDate& date);

    // Row 0 is the header, rows 1..6 the weeks; columns 0..6 Sunday..Saturday.
    static constexpr int kRows = 7;
    static constexpr int kColumns = 7;
    QRect cellRect(int row, int column) const;
    QString cellText(int row, int column) const;
    bool isSelectable(int row, int column) const;
    // The cell of the grid's date (row 1..6).
    QPoint selectedCell() const; // x = column, y = row

signals:
    void dateChanged(const QDate& date);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool cellAt(QPoint position, int& row, int& column) const;
    QDate date_;
};

namespace vellumo::aids {

// A caption drawn as if pressed into the window: a grey copy down and to the
// right behind the text, by an eighth of the text's line height (two pixels
// for the calendar's 13-pixel font), inside the label.
class Label3D : public QLabel {
    Q_OBJECT
public:
    explicit Label3D(QWidget* parent = nullptr);
    static constexpr qreal kShadowFraction = 0.125;
    // How far the copy lies behind the text, in the label's own pixels.
    qreal shadowDepth() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vellumo::aids
