#include "pictures/formbildspeichern.h"

#include "pictures/dbimage.h"
#include "pictures/picturesize.h"
#include "pictures/previewimage.h"
#include "platform/database/datasource.h"
#include "platform/pictures/conversion.h"
#include "platform/ui/keypreview.h"
#include "platform/ui/messages.h"
#include "ui_formbildspeichern.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStorageInfo>
#include <QStyle>

namespace {

const QString kNotReady =
    QStringLiteral("Kann auf Laufwerk nicht zugreifen. Eventuell ist kein Datenträger eingelegt.");
const QString kUnexpected = QStringLiteral("Ein unerwarteter Fehler ist aufgetreten!");

bool under(const QString& path, const QString& root) {
    if (root == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

// What a person would pick from: the home folder, the root, and the volumes
// mounted for people (removable media, other disks); no kernel or system mounts.
QList<TFormBildSpeichern::Drive> systemDrives() {
    QList<TFormBildSpeichern::Drive> drives;
    const QString home = QDir::homePath();
    drives.append({home, home});
    QList<TFormBildSpeichern::Drive> others;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (!volume.isValid() || root == home)
            continue;
        const bool forPeople = root.startsWith(QLatin1String("/media/")) ||
                               root.startsWith(QLatin1String("/mnt/")) ||
                               root.startsWith(QLatin1String("/run/media/"));
        const bool disk =
            volume.device().startsWith("/dev/") && !volume.device().startsWith("/dev/loop");
        const bool system =
            root.startsWith(QLatin1String("/boot")) || root.startsWith(QLatin1String("/run")) ||
            root.startsWith(QLatin1String("/sys")) || root.startsWith(QLatin1String("/proc")) ||
            root.startsWith(QLatin1String("/dev")) || root.startsWith(QLatin1String("/snap")) ||
            root.startsWith(QLatin1String("/var")) || root.startsWith(QLatin1String("/etc"));
        if (root == QLatin1String("/") || forPeople || (disk && !system)) {
            const QString name = volume.displayName();
            others.append({root, name.isEmpty() || name == root
                                     ? root
                                     : QStringLiteral("%1 [%2]").arg(root, name)});
        }
    }
    bool haveRoot = false;
    for (const auto& d : others)
        haveRoot = haveRoot || d.root == QLatin1String("/");
    if (!haveRoot)
        drives.append({QStringLiteral("/"), QStringLiteral("/")});
    std::sort(others.begin(), others.end(),
              [](const auto& a, const auto& b) { return a.root < b.root; });
    drives.append(others);
    return drives;
}

} // namespace

TFormBildSpeichern::TFormBildSpeichern(vellumo::DataSource* source,
                                       vellumo::pictures::DBImage* holder, QWidget* parent)
    : QDialog(parent), ui(new Ui::TFormBildSpeichern), source_(source), holder_(holder) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("FormBildSpeichern"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(494, 271);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    ui->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    ui->BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    using vellumo::guarded;
    connect(ui->DriveComboBox1, &QComboBox::activated, this,
            guarded([this] { DriveComboBox1Change(); }));
    connect(ui->DirectoryListBox1, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) {
                vellumo::runGuarded([&] { setDirectory(item->data(Qt::UserRole).toString()); });
            });
    connect(ui->FileListBox1, &QListWidget::itemSelectionChanged, this,
            guarded([this] { FileListBox1Change(); }));
    // A double click or Enter on a file is what a person expects "OK" to do.
    connect(ui->FileListBox1, &QListWidget::itemActivated, this,
            guarded([this] { BitBtn1Click(); }));
    connect(ui->CheckBoxVorschau, &QCheckBox::toggled, this,
            guarded([this] { CheckBoxVorschauClick(); }));
    connect(ui->BitBtn1, &QPushButton::clicked, this, guarded([this] { BitBtn1Click(); }));
    connect(ui->BitBtn2, &QPushButton::clicked, this, guarded([this] { BitBtn2Click(); }));
    vellumo::installKeyPreview(this);

    drives_ = systemDrives();
    setDrives(drives_);
    setDirectory(QDir::currentPath());
}

TFormBildSpeichern::~TFormBildSpeichern() {
    delete ui;
}

// The commonest photo endings (.jpg) and PNG beside the six classic kinds.
QStringList TFormBildSpeichern::fileMask() {
    return {QStringLiteral("*.bmp"), QStringLiteral("*.wmf"),  QStringLiteral("*.gif"),
            QStringLiteral("*.pcx"), QStringLiteral("*.jpeg"), QStringLiteral("*.jpg"),
            QStringLiteral("*.tga"), QStringLiteral("*.png")};
}

QComboBox* TFormBildSpeichern::driveBox() const {
    return ui->DriveComboBox1;
}
QListWidget* TFormBildSpeichern::directoryList() const {
    return ui->DirectoryListBox1;
}
QListWidget* TFormBildSpeichern::fileList() const {
    return ui->FileListBox1;
}
vellumo::pictures::PreviewImage* TFormBildSpeichern::preview() const {
    return ui->Image1;
}
QCheckBox* TFormBildSpeichern::stretchBox() const {
    return ui->CheckBoxVorschau;
}
QLabel* TFormBildSpeichern::noteLabel() const {
    return ui->LabelHinweis;
}
QPushButton* TFormBildSpeichern::okButton() const {
    return ui->BitBtn1;
}
QPushButton* TFormBildSpeichern::cancelButton() const {
    return ui->BitBtn2;
}

void TFormBildSpeichern::setDrives(const QList<Drive>& drives) {
    drives_ = drives;
    const QSignalBlocker block(ui->DriveComboBox1);
    ui->DriveComboBox1->clear();
    for (const Drive& d : drives_)
        ui->DriveComboBox1->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), d.text, d.root);
    showDriveOf(directory_);
}

void TFormBildSpeichern::showModal() {
    // Open already from the viewer: shown again, in front, as the modal dialog it now is.
    if (isVisible())
        hide();
    setModal(true);
    modalRun_ = true;
    exec();
    modalRun_ = false;
}

void TFormBildSpeichern::showModeless() {
    setModal(false);
    show();
    raise();
    activateWindow();
}

// The drive a directory lies on: the one with the longest root above it.
int TFormBildSpeichern::driveIndexOf(const QString& path) const {
    int best = -1;
    for (int i = 0; i < drives_.size(); ++i)
        if (under(path, drives_[i].root) &&
            (best < 0 || drives_[i].root.size() > drives_[best].root.size()))
            best = i;
    return best;
}

void TFormBildSpeichern::showDriveOf(const QString& path) {
    const QSignalBlocker block(ui->DriveComboBox1);
    ui->DriveComboBox1->setCurrentIndex(driveIndexOf(path));
}

bool TFormBildSpeichern::setDirectory(const QString& path) {
    const QFileInfo info(path);
    if (!info.isDir() || !info.isReadable())
        return false;
    const QString dir = info.canonicalFilePath();
    if (dir.isEmpty() || !QDir(dir).isReadable())
        return false;
    directory_ = dir;
    const int drive = driveIndexOf(dir);
    if (drive >= 0)
        lastDirectoryOn_[drives_[drive].root] = dir;
    showDriveOf(dir);
    fillDirectoryList();
    fillFileList();
    return true;
}

// The path from the drive's root down to the directory, then its subdirectories.
void TFormBildSpeichern::fillDirectoryList() {
    QListWidget* list = ui->DirectoryListBox1;
    list->clear();
    const int drive = driveIndexOf(directory_);
    const QString root = drive >= 0 ? drives_[drive].root : QStringLiteral("/");
    QStringList chain;
    for (QString p = directory_; under(p, root); p = QFileInfo(p).absolutePath()) {
        chain.prepend(p);
        if (p == root || p == QLatin1String("/"))
            break;
    }
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    int depth = 0;
    for (const QString& p : chain) {
        const QString name = depth == 0 ? p : QFileInfo(p).fileName();
        auto* item = new QListWidgetItem(open, QString(depth * 2, QLatin1Char(' ')) + name, list);
        item->setData(Qt::UserRole, p);
        ++depth;
    }
    list->setCurrentRow(list->count() - 1);
    const QDir here(directory_);
    const QStringList subdirs =
        here.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : subdirs) {
        auto* item = new QListWidgetItem(closed, QString(depth * 2, QLatin1Char(' ')) + name, list);
        item->setData(Qt::UserRole, here.filePath(name));
    }
}

// Reading a directory afresh leaves nothing selected, and the list reports that.
void TFormBildSpeichern::fillFileList() {
    QListWidget* list = ui->FileListBox1;
    {
        const QSignalBlocker block(list);
        list->clear();
        const QFileInfoList files = QDir(directory_)
                                        .entryInfoList(fileMask(), QDir::Files | QDir::Readable,
                                                       QDir::Name | QDir::IgnoreCase);
        for (const QFileInfo& f : files)
            if (f.isFile())
                list->addItem(f.fileName());
        list->setCurrentRow(-1);
        list->clearSelection();
    }
    FileListBox1Change();
}

void TFormBildSpeichern::DriveComboBox1Change() {
    const int index = ui->DriveComboBox1->currentIndex();
    if (index < 0 || index >= drives_.size())
        return;
    const QString root = drives_[index].root;
    const int current = driveIndexOf(directory_);
    if (current >= 0 && drives_[current].root == root)
        return;
    // A volume whose medium is gone is no longer mounted at its root (the root
    // then belongs to the file system above it) or does not answer.
    const QStorageInfo volume(root);
    const bool mountedThere = root == QDir::homePath() || volume.rootPath() == root;
    if (!QFileInfo(root).isDir() || !volume.isValid() || !volume.isReady() || !mountedThere ||
        !QFileInfo(root).isReadable() || !QFileInfo(root).isExecutable()) {
        showDriveOf(directory_);
        vellumo::showErrorMessage(kNotReady, this);
        return;
    }
    QString target = lastDirectoryOn_.value(root, root);
    if (!QFileInfo(target).isDir())
        target = root;
    if (!setDirectory(target)) {
        showDriveOf(directory_);
        vellumo::showErrorMessage(kUnexpected, this);
    }
}

void TFormBildSpeichern::FileListBox1Change() {
    using namespace vellumo::pictures;
    const QList<QListWidgetItem*> selected = ui->FileListBox1->selectedItems();
    const QString path =
        selected.isEmpty() ? QString() : QDir(directory_).filePath(selected.first()->text());
    const PictureFile file = readPictureFile(path);
    problem_ = file.problem;
    problemText_ = problemText(file);
    ui->Image1->setPicture(file.image);
    QString note = problemText_;
    if (file.problem == PictureProblem::None) {
        const QSize stored = storedSize(file.image.size(), storedSide());
        note = stored == file.image.size()
                   ? QStringLiteral("%1 × %2 Pixel").arg(stored.width()).arg(stored.height())
                   : QStringLiteral("%1 × %2 Pixel, wird verkleinert auf %3 × %4 gespeichert.")
                         .arg(file.image.width())
                         .arg(file.image.height())
                         .arg(stored.width())
                         .arg(stored.height());
    }
    ui->LabelHinweis->setText(note);
}

QImage TFormBildSpeichern::pictureToStore() const {
    const QImage& picture = ui->Image1->picture();
    if (picture.isNull())
        return {};
    return vellumo::pictures::scaledForStorage(picture, vellumo::pictures::storedSide());
}

void TFormBildSpeichern::CheckBoxVorschauClick() {
    ui->Image1->setStretch(ui->CheckBoxVorschau->isChecked());
}

void TFormBildSpeichern::BitBtn1Click() {
    // A file that gives no picture is not silently taken for "no change".
    if (!problemText_.isEmpty()) {
        vellumo::showErrorMessage(
            QStringLiteral("Das Bild kann nicht übernommen werden. %1").arg(problemText_), this);
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    try {
        clipboard->clear();
        if (const QImage picture = pictureToStore(); !picture.isNull())
            clipboard->setImage(picture);
        if (holder_)
            holder_->pasteFromClipboard();
        clipboard->clear();
        if (source_) {
            vellumo::RecordStore& store = source_->store();
            if (store.state() == vellumo::StoreState::Browsing ||
                store.state() == vellumo::StoreState::Closed)
                store.BeginEdit();
            store.SaveRecord();
        }
    } catch (...) {
        // "OK" ends a modal wait whatever happens; a modeless chooser stays
        // open so the user can try again.
        if (modalRun_)
            done(QDialog::Accepted);
        throw;
    }
    done(QDialog::Accepted);
}

void TFormBildSpeichern::BitBtn2Click() {
    done(QDialog::Rejected);
}

void TFormBildSpeichern::FormKeyPress(QChar key) {
    if (key.unicode() == 27)
        BitBtn2Click();
}

bool TFormBildSpeichern::eventFilter(QObject* watched, QEvent* event) {
    if (vellumo::previewedKey(watched, event) == 27) {
        vellumo::runGuarded([this] { FormKeyPress(QChar(27)); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
