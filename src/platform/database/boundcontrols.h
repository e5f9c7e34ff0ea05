// Controls that show and edit one field of the current record of a DataSource.
//
// FieldLink is the binding itself (which field, on which source, follow every
// change); DBEdit, DBMemo and DBText are thin widgets on top of it, and grids
// or the picture holder use a FieldLink of their own the same way.
//
// Editing follows the rules of data-bound fields: typing starts editing the
// current record (BeginEdit); the text stays in the control until the control
// is left (the focus moving to another control of the same window, not a menu
// or another window opening) or the store settles the record before a move,
// then it is written into the record (SetFieldText); Esc puts the stored value
// back. A text the field refuses (a bad date) is reported once, selected, and
// the focus goes back to the control.
#pragma once

#include "platform/database/datasource.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QString>

#include <functional>

namespace vellumo {

class FieldLink : public QObject {
    Q_OBJECT
public:
    explicit FieldLink(QObject* parent = nullptr);
    ~FieldLink() override;

    // Binds to field on source (announcing the field to it); an empty field
    // or a null source unbinds. Raises "Feld '%s' nicht gefunden" when the
    // open table lacks the field.
    void bind(DataSource* source, const QString& field);
    DataSource* dataSource() const { return source_; }
    RecordStore* store() const { return source_ ? &source_->store() : nullptr; }
    const QString& fieldName() const { return field_; }

    // True while the table is open and has a record to show (also a new one,
    // and a broken table, whose record cannot be read).
    bool hasRecord() const;
    // Text of the field in the current record; "" without a record. When the
    // record cannot be read (a damaged block or blob), "" too, isUnreadable()
    // turns true and the error is reported once (after the current event, in
    // a box over reportTo's window) however many controls meet it.
    QString text() const;
    bool isUnreadable() const { return unreadable_; }
    void setReportTo(QWidget* widget) { reportTo_ = widget; }
    // The field's declared size in characters (0: no limit) and whether the
    // program can change the field at all.
    int size() const;
    bool isEditable() const;

    // Called whenever the shown value may have changed (moves, state changes,
    // a change of this field). Not called while suppressRefresh() is on.
    std::function<void()> refresh;
    void setSuppressRefresh(bool on) { suppress_ = on; }

private:
    void onData(const QString& field);
    void fire();

    QPointer<DataSource> source_;
    QString field_;
    QPointer<QWidget> reportTo_;
    mutable bool unreadable_ = false;
    bool suppress_ = false;
    QList<QMetaObject::Connection> connections_;
};

// What DBEdit and DBMemo share: the pending text and how it reaches the record.
// What a control shows in place of a value that cannot be read.
QString unreadableText();

// Reports a failure to read the table through the standard error display,
// once per text while the table stays open, after the current event.
void reportReadFailure(RecordStore& store, const QString& text, QWidget* near);

class BoundEditor {
public:
    virtual ~BoundEditor();
    FieldLink& link() { return link_; }
    const FieldLink& link() const { return link_; }
    // True while the control holds typed text not yet written to the record.
    bool isPending() const { return pending_; }
    // Writes the pending text into the record; raises what the store raises.
    void writePending();
    // Writes the pending text in place of the plain write into the field,
    // for a control whose text may stand for more than its field (an IBAN
    // typed into the account number gives the bank code too). Raises to
    // refuse the text, as the store refuses a bad date.
    std::function<void(const QString& text)> writer;
    // Drops the typed text and shows the stored value again, as Esc does.
    void revert() { restoreStored(); }

protected:
    BoundEditor();
    virtual QWidget* widget() = 0;
    virtual QString editorText() const = 0;
    virtual void showText(const QString& text) = 0;
    virtual void selectAllText() = 0;

    void registerForFlush();
    void reload();        // shows the stored value, nothing pending
    void userChanged();   // the user changed the text
    void restoreStored(); // Esc
    // The focus left the control for reason; returns normally. Runs the exit
    // notification when the control was really left.
    void focusLeft(Qt::FocusReason reason);
    std::function<void()> onExit;

private:
    FieldLink link_;
    Subscription pendingWriter_;
    bool pending_ = false;
    bool loading_ = false;
};

// The text controls bound to a field: the binding, Escape (back to the stored
// value) and leaving the control are the same for a line and a memo.
template <class Widget> class BoundTextControl : public Widget, public BoundEditor {
public:
    using Widget::Widget;
    void setDataField(DataSource* source, const QString& field) {
        link().setReportTo(this);
        link().bind(source, field);
        registerForFlush();
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            restoreStored();
            event->accept();
            return;
        }
        Widget::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        Widget::focusOutEvent(event);
        focusLeft(event->reason());
    }
    QWidget* widget() override { return this; }
    void selectAllText() override { this->selectAll(); }
};

class DBEdit : public BoundTextControl<QLineEdit> {
    Q_OBJECT
public:
    explicit DBEdit(QWidget* parent = nullptr);
    // Takes at least length characters while typing, more than the field
    // holds, for a writer that makes them fit (0: the field's size).
    void setInputLength(int length);

signals:
    // The control was left (after its text was written into the record).
    void exited();

private:
    QString editorText() const override { return text(); }
    void showText(const QString& text) override;
    int inputLength_ = 0;
};

class DBMemo : public BoundTextControl<QPlainTextEdit> {
    Q_OBJECT
public:
    explicit DBMemo(QWidget* parent = nullptr);

signals:
    void exited();

private:
    QString editorText() const override { return toPlainText(); }
    void showText(const QString& text) override;
};

// Display only.
class DBText : public QLabel {
    Q_OBJECT
public:
    explicit DBText(QWidget* parent = nullptr);
    void setDataField(DataSource* source, const QString& field);
    FieldLink& link() { return link_; }

private:
    FieldLink link_;
};

} // namespace vellumo
