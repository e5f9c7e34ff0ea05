// The e-mail and web fields show their whole content as a tooltip, also where
// the field is too narrow for it.
#pragma once

#include <QObject>
#include <QString>

class QLineEdit;

namespace vellumo::aids {

// The tooltip of one entry field. On every mouse movement over the field the
// tooltip text becomes the text the field shows (typing not yet stored
// included, blanks kept), and the tooltip is switched on only when something
// is left without blanks and control characters. Nothing else changes it, so
// after a move to another record the old tooltip stays until the mouse moves
// over the field again.
class FieldTip : public QObject {
    Q_OBJECT
public:
    explicit FieldTip(QLineEdit* field);

    // Runs on every mouse movement over the field.
    void MouseMove();
    const QString& text() const { return text_; }
    bool isOn() const { return on_; }

    // Whether a tooltip text has anything to show.
    static bool hasVisibleText(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* field_;
    QString text_;
    bool on_ = false;
};

} // namespace vellumo::aids
