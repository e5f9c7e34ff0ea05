#include "pictures/dbimage.h"

#include "platform/pictures/graphicfield.h"
#include "platform/ui/messages.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace vellumo::pictures {

DBImage::DBImage(QObject* parent) : QObject(parent) {}

void DBImage::bind(DataSource* source, const QString& field) {
    changes_.reset();
    link_.bind(source, field);
    // The store's own notice carries what changed, which tells a save of the
    // holder's change (the field then holds what the holder has) from the rest.
    if (source)
        changes_ = source->store().subscribeChanges(
            [this](unsigned changes, const QString& name) { onChanges(changes, name); });
    follow();
}

void DBImage::onChanges(unsigned changes, const QString& field) {
    if (writing_)
        return;
    const bool mine = field.isEmpty() || field.compare(link_.fieldName(), Qt::CaseInsensitive) == 0;
    if (!(changes & (StateChange | CurrentChange | RecordsChange)) &&
        !((changes & DataChange) && mine))
        return;
    RecordStore* store = link_.store();
    // Editing a record starts with the values it has: the first key typed in
    // any field must not cost fetching a large picture again.
    if (changes == StateChange && store && store->state() == StoreState::Editing)
        return;
    // Saved where it stands: reading 36 MB back to find the same bytes is what
    // made storing a large photograph slow.
    if (modified_ && store && (changes & RecordsChange) && !(changes & CurrentChange) &&
        store->state() == StoreState::Browsing && !store->isBroken()) {
        modified_ = false;
        return;
    }
    follow();
}

bool DBImage::hasPicture() const {
    return hasContent() && !picture().isNull();
}

bool DBImage::hasContent() const {
    return !key_.isEmpty() || !bytes_.isEmpty();
}

// The stored bytes are read the first time someone needs them.
void DBImage::load() const {
    if (key_.isEmpty() || loaded_)
        return;
    loaded_ = true;
    RecordStore* store = link_.store();
    if (!store || !link_.hasRecord() || store->isBroken())
        return;
    try {
        bytes_ = store->fieldValue(link_.fieldName()).toByteArray();
    } catch (const StoreError& e) {
        // A damaged blob: no picture, and the error is told once.
        reportReadFailure(*store, e.text(), reportTo_);
    }
}

QImage DBImage::picture() const {
    load();
    if (!decoded_) {
        picture_ = imageFromGraphicField(bytes_);
        decoded_ = true;
    }
    return picture_;
}

// Runs on moves, state changes and changes of the field, never for typing in
// another field. A picture stored apart is known by its key (where it lies):
// the same key is the same picture, and a new one is read only when asked for.
void DBImage::follow() {
    if (writing_)
        return;
    RecordStore* store = link_.store();
    const StoreState state = store ? store->state() : StoreState::Closed;
    if (state != StoreState::Editing && state != StoreState::Inserting)
        modified_ = false;
    QString key;
    QByteArray bytes;
    if (store && link_.hasRecord() && !store->isBroken()) {
        try {
            key = store->contentKey(link_.fieldName());
            if (key.isEmpty())
                bytes = store->fieldValue(link_.fieldName()).toByteArray();
        } catch (const StoreError& e) {
            reportReadFailure(*store, e.text(), reportTo_);
        }
    }
    if (!key.isEmpty()) {
        if (key == key_)
            return;
        take({}, QImage());
        key_ = key;
        loaded_ = false;
        decoded_ = false;
        emit pictureChanged();
        return;
    }
    if (key_.isEmpty() && bytes.size() == bytes_.size() && bytes == bytes_)
        return;
    take(bytes, QImage());
    decoded_ = bytes_.isEmpty();
    emit pictureChanged();
}

void DBImage::take(const QByteArray& bytes, const QImage& picture) {
    key_.clear();
    bytes_ = bytes;
    picture_ = picture;
    decoded_ = true;
}

bool DBImage::beginEdit() {
    RecordStore* store = link_.store();
    if (!store || !store->IsTableOpen() || store->isBroken())
        return false;
    // Only a real graphic field takes a picture (not a field of another kind by that name).
    const int index = store->fieldIndex(link_.fieldName());
    if (index < 0 || store->fields()[size_t(index)].kind != FieldKind::Graphic)
        return false;
    if (store->state() == StoreState::Editing || store->state() == StoreState::Inserting)
        return true;
    try {
        store->BeginEdit();
    } catch (const StoreError&) {
        return false; // a record that cannot be edited keeps its picture
    }
    return store->state() == StoreState::Editing || store->state() == StoreState::Inserting;
}

bool DBImage::cutToClipboard() {
    // Bytes that do not decode (damaged, or from a tool that stored something
    // else) are cut all the same, so the user can clear such a field.
    if (!hasContent() || !beginEdit())
        return false;
    if (const QImage image = picture(); !image.isNull())
        QGuiApplication::clipboard()->setImage(image);
    writing_ = true;
    try {
        link_.store()->setFieldValue(link_.fieldName(), QVariant());
    } catch (...) {
        writing_ = false;
        throw;
    }
    writing_ = false;
    take({}, {});
    modified_ = true;
    emit pictureChanged();
    return true;
}

bool DBImage::pasteFromClipboard() {
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    if (!mime || !mime->hasImage())
        return false;
    const QImage image = QGuiApplication::clipboard()->image();
    if (image.isNull())
        return false;
    // Encoded first: a picture the table cannot hold changes nothing at all.
    QString error;
    const QByteArray bytes = graphicFieldFromImage(image, &error);
    if (bytes.isEmpty()) {
        showErrorMessage(error.isEmpty() ? QStringLiteral("Das Bild kann nicht gespeichert werden.")
                                         : error,
                         reportTo_);
        return false;
    }
    if (!beginEdit())
        return false;
    writing_ = true;
    try {
        link_.store()->setFieldValue(link_.fieldName(), bytes);
    } catch (...) {
        writing_ = false;
        throw;
    }
    writing_ = false;
    // What the holder shows is what the table will hold (transparency laid over white).
    take(bytes, QImage());
    decoded_ = false;
    modified_ = true;
    emit pictureChanged();
    return true;
}

} // namespace vellumo::pictures
