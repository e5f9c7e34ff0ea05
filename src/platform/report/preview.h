// The preview window: the pages of a report one below the other, each laid
// out only when it comes into view and dropped as soon as it leaves it, so
// that a list of thousands of pages opens at once and holds no more than
// the pages on screen. From here the report is printed or saved as PDF.
#pragma once

#include "platform/report/layout.h"

#include <QDialog>

#include <map>

class QAbstractScrollArea;
class QLabel;
class QSpinBox;

namespace vellumo::report {

class PreviewWindow : public QDialog {
    Q_OBJECT
public:
    // Begins the run (settles the data source and counts its rows); raises
    // what the source raises when it cannot.
    PreviewWindow(const TQuickReport& report, const PageGeometry& geometry,
                  QWidget* parent = nullptr);
    ~PreviewWindow() override;

    int pageCount() const { return pagination_.pageCount(); }
    int currentPage() const; // 0-based: the page at the middle of the view
    void goToPage(int page);
    // 1.0 shows the paper at its size on a 96-dpi screen.
    double zoom() const { return zoom_; }
    void setZoom(double zoom);
    void fitWidth();
    void fitPage();

    int pagesLaidOut() const { return laidOut_; } // since the window was made
    std::size_t pagesKept() const { return pages_.size(); }
    const Pagination& pagination() const { return pagination_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    double pageWidth() const; // on screen, in pixels, at the current zoom
    double pageHeight() const;
    double pageStride() const; // page height and the gap below it
    void updateScrollRange();
    void paintPages();
    void showCurrentPage();
    const Page* pageAt(int page);

    const TQuickReport& report_;
    Pagination pagination_;
    QAbstractScrollArea* view_;
    QSpinBox* pageBox_;
    QLabel* pageTotal_;
    QLabel* zoomLabel_;
    double zoom_ = 1.0;
    bool fitWidth_ = true;
    std::map<int, Page> pages_;
    int laidOut_ = 0;
    QString failure_;
};

} // namespace vellumo::report
