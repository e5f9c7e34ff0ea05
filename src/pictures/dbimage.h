// The record's picture holder: the picture in the current record's graphic
// field, and the two ways the program changes it (through the clipboard).
//
// It follows the current record for as long as the table is open, shown or
// not. Moving reads nothing of a picture stored apart (the store tells where
// it lies, and the same place is the same picture); its bytes are read and
// decoded when someone asks for the picture, so browsing records with large
// pictures stays quick. A change (cut or paste) goes into the record at once, like a typed
// field: the next save stores it in "Grafik", a cancelled edit drops it.
#pragma once

#include "platform/database/boundcontrols.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QPointer>

namespace vellumo::pictures {

class DBImage : public QObject {
    Q_OBJECT
public:
    explicit DBImage(QObject* parent = nullptr);

    // Binds to field (normally "Grafik") of source; a null source unbinds.
    void bind(DataSource* source, const QString& field);
    FieldLink& link() { return link_; }
    // Where the refusal of a picture too large for the table is shown.
    void setReportTo(QWidget* widget) { reportTo_ = widget; }

    bool hasPicture() const;
    // The picture of the current record (or the changed one), null when there is none.
    QImage picture() const;
    // True after a cut or paste, until the record is saved, discarded or left.
    bool isModified() const { return modified_; }

    // Only with a picture, or field bytes that do not decode: starts editing
    // the record (BeginEdit; nothing more when it cannot be edited), copies
    // the picture (if any) to the clipboard and empties the holder. True when it did.
    bool cutToClipboard();
    // Only with a bitmap on the clipboard: starts editing the record and takes
    // a copy of it. A picture too large for the table is refused with a
    // message before anything changes. True when it did.
    bool pasteFromClipboard();

signals:
    // The picture was changed, or another record with another picture came.
    void pictureChanged();

private:
    void follow();
    void onChanges(unsigned changes, const QString& field);
    bool beginEdit();
    void take(const QByteArray& bytes, const QImage& picture);
    bool hasContent() const;
    void load() const;

    FieldLink link_;
    Subscription changes_;
    QPointer<QWidget> reportTo_;
    QString key_;                 // where the stored picture lies, empty when not apart
    mutable bool loaded_ = false; // bytes_ read for key_
    mutable QByteArray bytes_;    // the field value the picture stands for
    mutable QImage picture_;      // decoded from bytes_ on demand
    mutable bool decoded_ = true; // picture_ belongs to bytes_
    bool modified_ = false;
    bool writing_ = false;
};

} // namespace vellumo::pictures
