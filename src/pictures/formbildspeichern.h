// The picture file chooser with preview ("Bild laden"): drives, directories
// and the picture files of a directory; the selected file is converted to a
// bitmap for the preview, and "OK" makes that bitmap the current record's picture.
//
// Created once and only hidden between uses, so directory, selection, preview
// and the stretch switch stay as they were. The chooser keeps its own folder:
// browsing never moves the program's working directory, where the envelope's
// sender file and a relative default table are looked for.
//
// Under the preview it says what "OK" will do: the picture's size, that it
// is stored scaled down to the long side of "&Bildgröße …", or why the file
// gives no picture; "OK" with such a file says so and stays open.
#pragma once

#include <QDialog>
#include <QHash>
#include <QImage>
#include <QStringList>

#include "platform/pictures/conversion.h"

namespace Ui {
class TFormBildSpeichern;
}
class QCheckBox;
class QLabel;
class QComboBox;
class QListWidget;
class QPushButton;

namespace vellumo {
class DataSource;
namespace pictures {
class DBImage;
class PreviewImage;
} // namespace pictures
} // namespace vellumo

class TFormBildSpeichern : public QDialog {
    Q_OBJECT
public:
    // source and holder may be null for a chooser that stores nothing (tests of the dialog alone).
    explicit TFormBildSpeichern(vellumo::DataSource* source = nullptr,
                                vellumo::pictures::DBImage* holder = nullptr,
                                QWidget* parent = nullptr);
    ~TFormBildSpeichern() override;

    // The mask of the file list; the endings are compared without regard to case.
    static QStringList fileMask();

    // From the main window: modal, returns when the chooser closes.
    void showModal();
    // From the viewer: the main window stays usable.
    void showModeless();

    // The drives a person picks from: the home folder first, then the root and
    // the mounted volumes of removable and other real file systems.
    struct Drive {
        QString root;
        QString text;
    };
    const QList<Drive>& drives() const { return drives_; }
    // Replaces the drive list (tests; the program reads the system's at creation).
    void setDrives(const QList<Drive>& drives);

    QString directory() const { return directory_; }
    // Moves the directory and file list to path; false when it cannot.
    bool setDirectory(const QString& path);

    QComboBox* driveBox() const;
    QListWidget* directoryList() const;
    QListWidget* fileList() const;
    vellumo::pictures::PreviewImage* preview() const;
    QCheckBox* stretchBox() const;
    QLabel* noteLabel() const;
    // What "OK" stores for the selected file (null when it has no picture):
    // the preview scaled down to the stored size.
    QImage pictureToStore() const;
    QPushButton* okButton() const;
    QPushButton* cancelButton() const;

    void DriveComboBox1Change();
    void FileListBox1Change();
    void CheckBoxVorschauClick();
    void BitBtn1Click();
    void BitBtn2Click();
    void FormKeyPress(QChar key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int driveIndexOf(const QString& path) const;
    void showDriveOf(const QString& path);
    void fillDirectoryList();
    void fillFileList();

    Ui::TFormBildSpeichern* ui;
    vellumo::DataSource* source_;
    vellumo::pictures::DBImage* holder_;
    QList<Drive> drives_;
    QHash<QString, QString> lastDirectoryOn_; // drive root -> directory last shown there
    QString directory_;
    vellumo::pictures::PictureProblem problem_ = vellumo::pictures::PictureProblem::NoFile;
    QString problemText_;
    bool modalRun_ = false;
};
