// The five colours of the main window, kept in the section "Colors" of
// Setup.ini: chosen from one shared colour dialog, applied at once, stored at
// once, and applied again at the next start.
#pragma once

#include <QColor>
#include <QObject>
#include <QString>

#include <functional>

class QColorDialog;
class QWidget;

namespace vellumo::aids {

enum class ColourKey { Eingabe, EingabeText, Text, Gruppentext, Fenster };

// In the order the loader reads them and "Standardfarben" sets them.
inline constexpr ColourKey kAllColourKeys[] = {ColourKey::Eingabe, ColourKey::EingabeText,
                                               ColourKey::Text, ColourKey::Gruppentext,
                                               ColourKey::Fenster};

QString colourKeyName(ColourKey key);   // the key in the file, "Eingabe", …
int startColourValue(ColourKey key);    // what the main window uses without a stored value
int standardColourValue(ColourKey key); // what "Standardfarben" sets

// The colours of one window and where they are kept.
class ColourSettings : public QObject {
    Q_OBJECT
public:
    // apply gives a colour to every control of its key, writing nothing.
    using Apply = std::function<void(ColourKey, const QColor&)>;
    ColourSettings(QWidget* owner, Apply apply);

    // Reads the five keys (a missing or unreadable value gives the start
    // value) and applies them; writes nothing.
    void load();
    // Applies the colour, tells the windows that follow the entry fields and
    // stores it; a refused write is ignored and the colour stays in effect
    // for this run.
    void set(ColourKey key, const QColor& colour);
    // The colour dialog, opening with the colour it last returned (black at
    // first); a confirmed choice is set, a cancelled one changes nothing.
    void choose(ColourKey key);
    // The standard colours, without asking.
    void setStandardColours();

    // Created on first use, then kept for the run.
    QColorDialog& dialog();

signals:
    // From set() only: the search dialog's input controls follow these two,
    // while the loader at start-up leaves them to the dialog itself.
    void entryBackgroundSet(const QColor& colour);
    void entryTextSet(const QColor& colour);

private:
    static void tabByColumns(QColorDialog& dialog);

    QWidget* owner_;
    Apply apply_;
    QColorDialog* dialog_ = nullptr;
    QColor lastChosen_ = Qt::black;
};

} // namespace vellumo::aids
