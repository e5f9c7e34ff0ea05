#include "platform/database/boundcontrols.h"

#include "platform/ui/messages.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>

namespace vellumo {
namespace {

// Set while the focus is put back into a control whose text was refused, so
// that the control the focus had gone to is not "left" by that.
bool refocusing = false;

bool leavesControl(Qt::FocusReason reason) {
    // A menu, the menu bar or another window (a message box) taking the
    // focus does not leave the field.
    return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason &&
           reason != Qt::MenuBarFocusReason;
}

} // namespace

QString unreadableText() {
    return QStringLiteral("(nicht lesbar)");
}

void reportReadFailure(RecordStore& store, const QString& text, QWidget* near) {
    if (!store.claimFailureReport(text))
        return;
    // Never from inside a refresh or a paint: the box runs its own event loop.
    QPointer<QWidget> window(near ? near->window() : nullptr);
    QTimer::singleShot(0, qApp, [window, text] { showError(text, window); });
}

// ---- FieldLink -----------------------------------------------------------

FieldLink::FieldLink(QObject* parent) : QObject(parent) {}

FieldLink::~FieldLink() {
    if (source_ && !field_.isEmpty())
        source_->unbindField(field_);
}

void FieldLink::bind(DataSource* source, const QString& field) {
    for (const auto& connection : std::as_const(connections_))
        disconnect(connection);
    connections_.clear();
    if (source_ && !field_.isEmpty())
        source_->unbindField(field_);
    source_ = nullptr;
    field_.clear();

    if (source && !field.isEmpty()) {
        source->bindField(field); // may raise: then nothing is bound
        source_ = source;
        field_ = field;
        connections_ << connect(source, &DataSource::stateChanged, this, [this] { fire(); })
                     << connect(source, &DataSource::currentChanged, this, [this] { fire(); })
                     << connect(source, &DataSource::dataChanged, this, &FieldLink::onData);
    }
    fire();
}

bool FieldLink::hasRecord() const {
    const RecordStore* s = store();
    if (!s || !s->IsTableOpen())
        return false;
    return s->state() == StoreState::Inserting || !s->isEmpty() || s->isBroken();
}

QString FieldLink::text() const {
    unreadable_ = false;
    if (!hasRecord())
        return QString();
    try {
        return store()->fieldText(field_);
    } catch (const StoreError& error) {
        // A table without the field is never opened while the field is bound,
        // so this is a record that cannot be read: say so, never show it empty.
        unreadable_ = true;
        reportReadFailure(*store(), error.text(), reportTo_);
        return QString();
    }
}

int FieldLink::size() const {
    const RecordStore* s = store();
    if (!s || !s->IsTableOpen())
        return 0;
    const int index = s->fieldIndex(field_);
    if (index < 0)
        return 0;
    const FieldInfo& info = s->fields()[static_cast<size_t>(index)];
    return info.kind == FieldKind::Text ? info.size : 0;
}

bool FieldLink::isEditable() const {
    const RecordStore* s = store();
    if (!s || !s->IsTableOpen())
        return true;
    const int index = s->fieldIndex(field_);
    if (index < 0)
        return false;
    const FieldKind kind = s->fields()[static_cast<size_t>(index)].kind;
    return kind != FieldKind::Other && kind != FieldKind::Graphic;
}

void FieldLink::onData(const QString& field) {
    if (field.isEmpty() || field.compare(field_, Qt::CaseInsensitive) == 0)
        fire();
}

void FieldLink::fire() {
    if (!suppress_ && refresh)
        refresh();
}

// ---- BoundEditor ---------------------------------------------------------

BoundEditor::BoundEditor() {
    link_.refresh = [this] { reload(); };
}

BoundEditor::~BoundEditor() = default;

void BoundEditor::registerForFlush() {
    // Every editor, not only the focused one: a dialog that moves the cursor
    // has the focus while the main window's field still holds typed text.
    pendingWriter_.reset();
    if (RecordStore* store = link_.store())
        pendingWriter_ = store->subscribePendingInput([this] { writePending(); });
}

void BoundEditor::writePending() {
    if (!pending_)
        return;
    RecordStore* store = link_.store();
    if (!store)
        return;
    if (writer)
        writer(editorText());
    else
        store->SetFieldText(link_.fieldName(), editorText());
    // The store's change notice normally reloaded the control already.
    pending_ = false;
}

void BoundEditor::reload() {
    loading_ = true;
    showText(link_.text());
    loading_ = false;
    pending_ = false;
}

void BoundEditor::userChanged() {
    if (loading_)
        return;
    RecordStore* store = link_.store();
    if (!store)
        return;
    if (!pending_) {
        bool started = false;
        // The control keeps the typed text while the record goes into editing.
        link_.setSuppressRefresh(true);
        runGuarded([&] {
            store->BeginEdit();
            started = true;
        });
        link_.setSuppressRefresh(false);
        if (!started) {
            reload();
            return;
        }
    }
    pending_ = true;
}

void BoundEditor::restoreStored() {
    reload();
    selectAllText();
}

void BoundEditor::focusLeft(Qt::FocusReason reason) {
    if (refocusing || !leavesControl(reason))
        return;
    RecordStore* store = link_.store();
    if (!store || !store->IsTableOpen())
        return;
    QWidget* self = widget();
    const QWidget* now = QApplication::focusWidget();
    if (now && now->window() != self->window())
        return;
    try {
        writePending();
    } catch (const std::exception& error) {
        // Reported once, after the focus change has finished; then the
        // control gets the focus back with its text selected.
        const QString text = errorText(error);
        QPointer<QWidget> control(self);
        QTimer::singleShot(0, self, [this, control, text] {
            showError(text, control ? control->window() : nullptr);
            if (!control)
                return;
            refocusing = true;
            control->window()->activateWindow();
            control->setFocus(Qt::OtherFocusReason);
            refocusing = false;
            selectAllText();
        });
        return;
    }
    if (onExit)
        runGuarded(onExit);
}

// ---- DBEdit ----------------------------------------------------------------

DBEdit::DBEdit(QWidget* parent) : BoundTextControl(parent) {
    connect(this, &QLineEdit::textEdited, this, [this] { userChanged(); });
    onExit = [this] { emit exited(); };
}

void DBEdit::setInputLength(int length) {
    inputLength_ = length;
    const int size = link().size();
    setMaxLength(size > 0 ? std::max(size, inputLength_) : 32767);
}

void DBEdit::showText(const QString& text) {
    const int size = link().size();
    setMaxLength(size > 0 ? std::max(size, inputLength_) : 32767);
    setReadOnly(!link().isEditable() || link().isUnreadable());
    setPlaceholderText(link().isUnreadable() ? unreadableText() : QString());
    setText(text);
    setCursorPosition(0);
}

// ---- DBMemo ----------------------------------------------------------------

DBMemo::DBMemo(QWidget* parent) : BoundTextControl(parent) {
    // Tab moves on to the next control, as in every other entry field.
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, [this] { userChanged(); });
    onExit = [this] { emit exited(); };
}

void DBMemo::showText(const QString& text) {
    setReadOnly(!link().isEditable() || link().isUnreadable());
    setPlaceholderText(link().isUnreadable() ? unreadableText() : QString());
    if (toPlainText() != text)
        setPlainText(text);
}

// ---- DBText ----------------------------------------------------------------

DBText::DBText(QWidget* parent) : QLabel(parent) {
    link_.refresh = [this] {
        const QString text = link_.text();
        setText(link_.isUnreadable() ? unreadableText() : text);
    };
}

void DBText::setDataField(DataSource* source, const QString& field) {
    link_.setReportTo(this);
    link_.bind(source, field);
}

} // namespace vellumo
