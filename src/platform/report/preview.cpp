#include "platform/report/preview.h"

#include "platform/report/output.h"
#include "platform/ui/messages.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vellumo::report {

namespace {
constexpr int kMargin = 12; // around the pages and between them, in pixels
constexpr double kMinZoom = 0.1;
constexpr double kMaxZoom = 4.0;
constexpr double kZoomStep = 1.25;

QIcon themed(const char* name, QStyle* style, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name), style->standardIcon(fallback));
}
} // namespace

PreviewWindow::PreviewWindow(const TQuickReport& report, const PageGeometry& geometry,
                             QWidget* parent)
    : QDialog(parent), report_(report), pagination_(report.begin(geometry)) {
    setObjectName(QStringLiteral("Vorschau"));
    setWindowTitle(QStringLiteral("Druckvorschau – %1").arg(report.ReportTitle));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);

    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("Werkzeugleiste"));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    QStyle* look = style();
    auto action = [&](const char* name, const QString& text, const QIcon& icon,
                      const QKeySequence& key, auto handler) {
        QAction* a = bar->addAction(icon, text);
        a->setObjectName(QString::fromLatin1(name));
        a->setToolTip(key.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, key.toString()));
        if (!key.isEmpty())
            a->setShortcut(key);
        connect(a, &QAction::triggered, this, guarded(handler));
        return a;
    };
    action("ErsteSeite", QStringLiteral("Erste Seite"),
           themed("go-first", look, QStyle::SP_MediaSkipBackward),
           QKeySequence(Qt::CTRL | Qt::Key_Home), [this] { goToPage(0); });
    action("VorigeSeite", QStringLiteral("Vorige Seite"),
           themed("go-previous", look, QStyle::SP_ArrowBack), QKeySequence(),
           [this] { goToPage(currentPage() - 1); });
    pageBox_ = new QSpinBox(bar);
    pageBox_->setObjectName(QStringLiteral("Seite"));
    pageBox_->setAccessibleName(QStringLiteral("Seite"));
    pageBox_->setRange(1, pageCount());
    pageBox_->setKeyboardTracking(false);
    pageBox_->setButtonSymbols(QAbstractSpinBox::NoButtons);
    pageBox_->setAlignment(Qt::AlignRight);
    pageBox_->setMinimumWidth(
        pageBox_->fontMetrics().horizontalAdvance(QString::number(pageCount())) + 24);
    bar->addWidget(pageBox_);
    pageTotal_ = new QLabel(QStringLiteral(" von %1 ").arg(pageCount()), bar);
    bar->addWidget(pageTotal_);
    connect(pageBox_, &QSpinBox::valueChanged, this, [this](int value) {
        if (value - 1 != currentPage())
            goToPage(value - 1);
    });
    action("NaechsteSeite", QStringLiteral("Nächste Seite"),
           themed("go-next", look, QStyle::SP_ArrowForward), QKeySequence(),
           [this] { goToPage(currentPage() + 1); });
    action("LetzteSeite", QStringLiteral("Letzte Seite"),
           themed("go-last", look, QStyle::SP_MediaSkipForward),
           QKeySequence(Qt::CTRL | Qt::Key_End), [this] { goToPage(pageCount() - 1); });
    bar->addSeparator();
    action("Verkleinern", QStringLiteral("Verkleinern"),
           themed("zoom-out", look, QStyle::SP_ArrowDown), QKeySequence(QKeySequence::ZoomOut),
           [this] { setZoom(zoom_ / kZoomStep); });
    zoomLabel_ = new QLabel(bar);
    zoomLabel_->setObjectName(QStringLiteral("Zoom"));
    zoomLabel_->setMinimumWidth(
        zoomLabel_->fontMetrics().horizontalAdvance(QStringLiteral(" 400 % ")));
    zoomLabel_->setAlignment(Qt::AlignCenter);
    bar->addWidget(zoomLabel_);
    action("Vergroessern", QStringLiteral("Vergrößern"),
           themed("zoom-in", look, QStyle::SP_ArrowUp), QKeySequence(QKeySequence::ZoomIn),
           [this] { setZoom(zoom_ * kZoomStep); });
    action("Seitenbreite", QStringLiteral("Seitenbreite"),
           themed("zoom-fit-width", look, QStyle::SP_TitleBarMaxButton), QKeySequence(),
           [this] { fitWidth(); });
    action("GanzeSeite", QStringLiteral("Ganze Seite"),
           themed("zoom-fit-best", look, QStyle::SP_TitleBarNormalButton), QKeySequence(),
           [this] { fitPage(); });
    bar->addSeparator();
    QAction* print = action("Drucken", QStringLiteral("Drucken"),
                            themed("document-print", look, QStyle::SP_DialogSaveButton),
                            QKeySequence(QKeySequence::Print), [this] { Print(report_, this); });
    QAction* pdf =
        action("AlsPdfSpeichern", QStringLiteral("Als PDF speichern …"),
               themed("document-save-as", look, QStyle::SP_DialogSaveButton), QKeySequence(),
               [this] { savePdfAs(report_, pagination_.geometry, this); });
    // Printing and saving are what the window is for: named, not just pictured.
    for (QAction* named : {print, pdf})
        bar->widgetForAction(named)->setProperty("toolButtonStyle",
                                                 QVariant::fromValue(Qt::ToolButtonTextBesideIcon));
    bar->addSeparator();
    action("Schliessen", QStringLiteral("Schließen"),
           themed("window-close", look, QStyle::SP_DialogCloseButton), QKeySequence(),
           [this] { accept(); });

    view_ = new QAbstractScrollArea(this);
    view_->setObjectName(QStringLiteral("Seiten"));
    view_->setFrameShape(QFrame::NoFrame);
    view_->viewport()->setAutoFillBackground(false);
    view_->viewport()->installEventFilter(this);
    view_->setFocusPolicy(Qt::StrongFocus);
    connect(view_->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { showCurrentPage(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(view_, 1);

    if (const QScreen* screen = this->screen()) {
        const QRect room = screen->availableGeometry();
        resize(qMin(1000, room.width() - 20), qMin(800, room.height() - 40));
    }
    setZoom(1.0);
    fitWidth_ = true;
}

PreviewWindow::~PreviewWindow() = default;

double PreviewWindow::pageWidth() const {
    return pagination_.geometry.width() * zoom_;
}

double PreviewWindow::pageHeight() const {
    return pagination_.geometry.paper.size(QPageSize::Inch).height() * kUnitsPerInch * zoom_;
}

double PreviewWindow::pageStride() const {
    return std::ceil(pageHeight()) + kMargin;
}

int PreviewWindow::currentPage() const {
    const double middle = view_->verticalScrollBar()->value() + view_->viewport()->height() / 2.0;
    return std::clamp(static_cast<int>((middle - kMargin / 2.0) / pageStride()), 0,
                      pageCount() - 1);
}

void PreviewWindow::goToPage(int page) {
    page = std::clamp(page, 0, pageCount() - 1);
    view_->verticalScrollBar()->setValue(static_cast<int>(page * pageStride()));
    showCurrentPage();
}

void PreviewWindow::setZoom(double zoom) {
    const int page = currentPage();
    fitWidth_ = false;
    zoom_ = std::clamp(zoom, kMinZoom, kMaxZoom);
    zoomLabel_->setText(QStringLiteral("%1 %").arg(qRound(zoom_ * 100)));
    updateScrollRange();
    goToPage(page);
    view_->viewport()->update();
}

void PreviewWindow::fitWidth() {
    // One pixel to spare: a rounded-up page width must not call for a scroll bar.
    setZoom((view_->viewport()->width() - 2.0 * kMargin - 1) / pagination_.geometry.width());
    fitWidth_ = true;
}

void PreviewWindow::fitPage() {
    const double height = pagination_.geometry.paper.size(QPageSize::Inch).height() * kUnitsPerInch;
    setZoom(std::min((view_->viewport()->width() - 2.0 * kMargin) / pagination_.geometry.width(),
                     (view_->viewport()->height() - 2.0 * kMargin) / height));
}

void PreviewWindow::updateScrollRange() {
    const QSize room = view_->viewport()->size();
    const double total = pageCount() * pageStride() + kMargin;
    QScrollBar* vertical = view_->verticalScrollBar();
    vertical->setRange(0, std::max(0, static_cast<int>(std::min(total - room.height(), 2e9))));
    vertical->setPageStep(room.height());
    vertical->setSingleStep(std::max(20, room.height() / 20));
    QScrollBar* horizontal = view_->horizontalScrollBar();
    horizontal->setRange(0,
                         std::max(0, static_cast<int>(pageWidth()) + 2 * kMargin - room.width()));
    horizontal->setPageStep(room.width());
    horizontal->setSingleStep(20);
}

void PreviewWindow::showCurrentPage() {
    const QSignalBlocker quiet(pageBox_);
    pageBox_->setValue(currentPage() + 1);
    view_->viewport()->update();
}

const Page* PreviewWindow::pageAt(int page) {
    auto found = pages_.find(page);
    if (found != pages_.end())
        return &found->second;
    if (!failure_.isEmpty())
        return nullptr;
    try {
        ++laidOut_;
        return &pages_.emplace(page, report_.layoutPage(pagination_, page)).first->second;
    } catch (const std::exception& error) {
        // Painting cannot raise: the page says what went wrong, and the
        // standard error display says it once, after the painting.
        failure_ = errorText(error);
        QTimer::singleShot(0, this, [this] { showError(failure_, this); });
        return nullptr;
    }
}

void PreviewWindow::paintPages() {
    QWidget* viewport = view_->viewport();
    QPainter painter(viewport);
    painter.fillRect(viewport->rect(), palette().color(QPalette::Dark));
    const int top = view_->verticalScrollBar()->value();
    const double stride = pageStride();
    const int first = std::clamp(static_cast<int>(top / stride), 0, pageCount() - 1);
    const int last =
        std::clamp(static_cast<int>((top + viewport->height()) / stride), 0, pageCount() - 1);
    const double width = pageWidth();
    const double left = width + 2 * kMargin <= viewport->width()
                            ? (viewport->width() - width) / 2.0
                            : kMargin - view_->horizontalScrollBar()->value();
    for (int k = first; k <= last; ++k) {
        const QRectF paper(left, kMargin + k * stride - top, width, pageHeight());
        painter.fillRect(paper.translated(2, 2), palette().color(QPalette::Shadow));
        painter.fillRect(paper, Qt::white);
        if (const Page* page = pageAt(k)) {
            painter.save();
            painter.setClipRect(paper);
            painter.translate(paper.topLeft());
            paintPage(painter, *page, kUnitsPerInch * zoom_, kUnitsPerInch * zoom_);
            painter.restore();
        } else {
            painter.setPen(Qt::black);
            painter.drawText(paper.adjusted(20, 20, -20, -20), Qt::AlignCenter | Qt::TextWordWrap,
                             QStringLiteral("Die Seite %1 kann nicht aufbereitet werden:\n%2")
                                 .arg(k + 1)
                                 .arg(failure_));
        }
    }
    // Only the pages on screen are kept.
    std::erase_if(pages_,
                  [&](const auto& entry) { return entry.first < first || entry.first > last; });
}

bool PreviewWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_->viewport()) {
        if (event->type() == QEvent::Paint) {
            paintPages();
            return true;
        }
        if (event->type() == QEvent::Resize) {
            if (fitWidth_)
                fitWidth();
            else
                updateScrollRange();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_PageDown:
        goToPage(currentPage() + 1);
        return;
    case Qt::Key_PageUp:
        goToPage(currentPage() - 1);
        return;
    case Qt::Key_Home:
        goToPage(0);
        return;
    case Qt::Key_End:
        goToPage(pageCount() - 1);
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void PreviewWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    view_->setFocus();
}

} // namespace vellumo::report
