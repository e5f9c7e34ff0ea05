#include "pictures/formbild.h"

#include "pictures/formbildspeichern.h"
#include "platform/ui/keypreview.h"
#include "platform/ui/messages.h"
#include "ui_formbild.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWindow>

#include <algorithm>

TFormBild::TFormBild(vellumo::DataSource* source, QWidget* parent)
    : QDialog(parent), ui(new Ui::TFormBild), source_(source) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("FormBild"));
    // A sizeable tool window: thin caption, no entry in the task bar.
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    resize(178, 179);
    ui->LadenButton->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    ui->LoeschenButton->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    ui->SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());

    DBImage1.setReportTo(this);
    if (source_)
        DBImage1.bind(source_, QStringLiteral("Grafik"));

    using vellumo::guarded;
    connect(ui->LadenButton, &QToolButton::clicked, this, guarded([this] { LadenButtonClick(); }));
    connect(ui->LoeschenButton, &QToolButton::clicked, this,
            guarded([this] { LoeschenButtonClick(); }));
    connect(ui->SpeedButton1, &QToolButton::clicked, this,
            guarded([this] { SpeedButton1Click(); }));
    vellumo::installKeyPreview(this);
}

TFormBild::~TFormBild() {
    delete ui;
}

QLabel* TFormBild::image() const {
    return ui->Image1;
}

namespace {
constexpr int kToolbarHeight = 33;
constexpr int kMinClientWidth = 97;
const QSize kEmptyArea(105, 105);
} // namespace

TFormBild::Placement TFormBild::placementFor(const QSize& picture, const QRect& available,
                                             const QMargins& frame) {
    QSize area = picture.isEmpty() ? kEmptyArea : picture;
    const QSize room(available.width() - frame.left() - frame.right(),
                     available.height() - frame.top() - frame.bottom() - kToolbarHeight);
    if ((area.width() > room.width() || area.height() > room.height()) && !room.isEmpty())
        area = area.scaled(room, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    const QSize client(std::max(area.width(), kMinClientWidth), area.height() + kToolbarHeight);
    const QSize outer(client.width() + frame.left() + frame.right(),
                      client.height() + frame.top() + frame.bottom());
    const QPoint corner = available.topLeft() + QPoint((available.width() - outer.width()) / 2,
                                                       (available.height() - outer.height()) / 2);
    return {area, QRect(corner + QPoint(frame.left(), frame.top()), client)};
}

void TFormBild::showPicture(const QImage& picture) {
    shown_ = picture;
    place();
}

void TFormBild::ButtonSeePicClick() {
    showPicture(DBImage1.picture());
    exec();
}

// Sizes the client area, never the frame: whatever the window manager draws
// around it, the last row of the picture stays inside. The frame is known
// only once the window is on the screen; then it is placed again.
void TFormBild::place() {
    if (!windowHandle())
        winId();
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    placedWith_ = frame;
    const QScreen* screen = windowHandle() && windowHandle()->screen()
                                ? windowHandle()->screen()
                                : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 640, 480);
    const Placement p = placementFor(shown_.size(), available, frame);
    if (shown_.isNull())
        ui->Image1->setPixmap(QPixmap());
    else if (p.area == shown_.size())
        ui->Image1->setPixmap(QPixmap::fromImage(shown_));
    else
        ui->Image1->setPixmap(QPixmap::fromImage(
            shown_.scaled(p.area, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    ui->Image1->setGeometry(QRect(QPoint(0, kToolbarHeight), p.area));
    setGeometry(p.client);
}

void TFormBild::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The window manager tells its frame a moment after mapping; look again a few times.
    for (int ms : {0, 50, 200, 500}) {
        QTimer::singleShot(ms, this, [this] {
            if (isVisible() && windowHandle() && windowHandle()->frameMargins() != placedWith_)
                place();
        });
    }
}

void TFormBild::LadenButtonClick() {
    done(QDialog::Accepted);
    if (chooser_)
        chooser_->showModeless();
}

void TFormBild::LoeschenButtonClick() {
    DBImage1.cutToClipboard();
    // Cut (or never there): the window goes blank and keeps its size. A record
    // that cannot be edited keeps its picture on show.
    if (!DBImage1.hasPicture()) {
        shown_ = QImage();
        ui->Image1->setPixmap(QPixmap());
    }
    if (source_) {
        vellumo::RecordStore& store = source_->store();
        if (store.state() == vellumo::StoreState::Editing ||
            store.state() == vellumo::StoreState::Inserting)
            store.SaveRecord();
    }
    QGuiApplication::clipboard()->clear();
}

void TFormBild::SpeedButton1Click() {
    done(QDialog::Rejected);
}

void TFormBild::Image1Click() {
    done(QDialog::Rejected);
}

void TFormBild::FormKeyPress(QChar key) {
    if (key.unicode() == 27)
        done(QDialog::Rejected);
}

bool TFormBild::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->Image1 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        ui->Image1->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
        vellumo::runGuarded([this] { Image1Click(); });
        return true;
    }
    if (vellumo::previewedKey(watched, event) == 27) {
        vellumo::runGuarded([this] { FormKeyPress(QChar(27)); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFormBild::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ui->Panel1->resize(width(), 33);
}
