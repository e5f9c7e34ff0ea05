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

QRect TFormBild::frameFor(const QSize& imageArea, const QSize& screen) {
    int width = imageArea.width();
    if (width < 97)
        width = 97;
    const int height = imageArea.height() + 53;
    // Integer division truncates toward zero, also for a window larger than the screen.
    return QRect((screen.width() - width) / 2, (screen.height() - height) / 2, width, height);
}

// Image1 takes the picture's size whenever it has one; an empty picture
// leaves it at the size it had.
void TFormBild::showPicture(const QImage& picture) {
    if (picture.width() > 0 && picture.height() > 0) {
        ui->Image1->resize(picture.size());
        ui->Image1->setPixmap(QPixmap::fromImage(picture));
    } else {
        ui->Image1->setPixmap(QPixmap());
    }
}

void TFormBild::ButtonSeePicClick() {
    showPicture(DBImage1.picture());
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect outer =
        frameFor(ui->Image1->size(), screen ? screen->geometry().size() : QSize(640, 480));
    outer_ = outer;
    placeFrame();
    exec();
}

// The sizes are those of the outer frame. Some window systems tell the
// frame's size only once the window is on the screen; then it is placed again.
void TFormBild::placeFrame() {
    if (!windowHandle())
        winId();
    const QMargins m = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    placedWith_ = m;
    resize(outer_.width() - m.left() - m.right(), outer_.height() - m.top() - m.bottom());
    move(outer_.topLeft());
}

void TFormBild::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The window manager tells its frame a moment after mapping; look again a few times.
    for (int ms : {0, 50, 200, 500}) {
        QTimer::singleShot(ms, this, [this] {
            if (isVisible() && outer_.isValid() && windowHandle() &&
                windowHandle()->frameMargins() != placedWith_)
                placeFrame();
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
    showPicture(DBImage1.picture());
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
