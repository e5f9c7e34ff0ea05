#include "aids/clipboard.h"

#include "platform/database/boundcontrols.h"
#include "platform/database/recordstore.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QTextCursor>

#include <utility>

namespace vellumo::aids {
namespace {

// The record goes into editing before the text changes, as a keystroke puts
// it. The field itself keeps what it shows meanwhile: a reload would throw
// away the selection the operation is about to work on. Raises what the store
// raises (a locked record); then the text is not touched.
void startEditing(BoundEditor& editor) {
    RecordStore* store = editor.link().store();
    if (!store || !store->IsTableOpen())
        return;
    struct Quiet {
        FieldLink& link;
        explicit Quiet(FieldLink& l) : link(l) { link.setSuppressRefresh(true); }
        ~Quiet() { link.setSuppressRefresh(false); }
    } quiet(editor.link());
    store->BeginEdit();
}

enum class Operation { Cut, Copy, Paste, Clear, CutAll, CopyAll };

bool changesText(Operation operation) {
    return operation != Operation::Copy && operation != Operation::CopyAll;
}

void run(QWidget* active, Operation operation) {
    if (auto* edit = qobject_cast<DBEdit*>(active)) {
        if (changesText(operation)) {
            if (edit->isReadOnly())
                return;
            startEditing(*edit);
        }
        switch (operation) {
        case Operation::Cut:
            edit->cut();
            break;
        case Operation::Copy:
            edit->copy();
            break;
        case Operation::Paste: {
            // A one-line field takes the first line, as the system's own
            // one-line fields do; a line break would end up in the table.
            QString text = QGuiApplication::clipboard()->text();
            const qsizetype end = text.indexOf(QRegularExpression(QStringLiteral("[\\r\\n]")));
            if (end >= 0)
                text.truncate(end);
            if (!text.isEmpty() || edit->hasSelectedText())
                edit->insert(text);
            break;
        }
        case Operation::Clear:
            // Deleted as the user would delete it, so the field counts the
            // emptied text as typed and stores it when it is left.
            edit->selectAll();
            edit->del();
            break;
        case Operation::CutAll:
            edit->selectAll();
            edit->cut();
            break;
        case Operation::CopyAll:
            edit->selectAll();
            edit->copy();
            break;
        }
        return;
    }
    if (auto* memo = qobject_cast<DBMemo*>(active)) {
        if (changesText(operation)) {
            if (memo->isReadOnly())
                return;
            startEditing(*memo);
        }
        switch (operation) {
        case Operation::Cut:
            memo->cut();
            break;
        case Operation::Copy:
            memo->copy();
            break;
        case Operation::Paste:
            memo->paste();
            break;
        case Operation::Clear: {
            memo->selectAll();
            QTextCursor cursor = memo->textCursor();
            cursor.removeSelectedText();
            memo->setTextCursor(cursor);
            break;
        }
        case Operation::CutAll:
            memo->selectAll();
            memo->cut();
            break;
        case Operation::CopyAll:
            memo->selectAll();
            memo->copy();
            break;
        }
        return;
    }
    // A read-only line beside the fields (the IBAN) is copied, whole when
    // nothing of it is selected, and never changed.
    if (auto* line = qobject_cast<QLineEdit*>(active);
        line && line->isReadOnly() && !changesText(operation)) {
        if (operation == Operation::CopyAll || !line->hasSelectedText())
            line->selectAll();
        line->copy();
    }
}

class MouseUpWatch : public QObject {
public:
    MouseUpWatch(QAbstractButton* button, std::function<void(Qt::MouseButton)> handler)
        : QObject(button), handler_(std::move(handler)) {
        button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto* release = static_cast<QMouseEvent*>(event);
            // Only a release over the button counts, as a click would.
            auto* button = static_cast<QAbstractButton*>(watched);
            if (button->isEnabled() && button->rect().contains(release->position().toPoint()))
                handler_(release->button());
        }
        return false;
    }

private:
    std::function<void(Qt::MouseButton)> handler_;
};

} // namespace

void cutSelection(QWidget* active) {
    run(active, Operation::Cut);
}
void copySelection(QWidget* active) {
    run(active, Operation::Copy);
}
void pasteClipboard(QWidget* active) {
    run(active, Operation::Paste);
}
void clearField(QWidget* active) {
    run(active, Operation::Clear);
}
void cutWholeField(QWidget* active) {
    run(active, Operation::CutAll);
}
void copyWholeField(QWidget* active) {
    run(active, Operation::CopyAll);
}

void onMouseUp(QAbstractButton* button, std::function<void(Qt::MouseButton)> handler) {
    new MouseUpWatch(button, std::move(handler));
}

bool leaveClipboardKeysToMenu(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride)
        return false;
    if (!qobject_cast<DBEdit*>(watched) && !qobject_cast<DBMemo*>(watched))
        return false;
    // Exactly the menu's keys: Shift+Del and the like stay the field's own.
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() != Qt::ControlModifier ||
        (key->key() != Qt::Key_X && key->key() != Qt::Key_C && key->key() != Qt::Key_V))
        return false;
    key->ignore();
    return true;
}

} // namespace vellumo::aids
