#include "app/startup.h"

#include "aids/aboutbox.h"
#include "aids/colours.h"
#include "aids/helpwindow.h"
#include "app/hauptformular.h"
#include "app/splashscreen.h"
#include "app/windows.h"
#include "data/formstandardtabelle.h"
#include "find/formpersonauswahl.h"
#include "find/formsuchen.h"
#include "find/formtabelle.h"
#include "pictures/formbild.h"
#include "pictures/formbildspeichern.h"
#include "platform/pictures/limits.h"
#include "platform/settings/profile.h"
#include "platform/system/system.h"
#include "platform/ui/accessibility.h"
#include "platform/ui/messages.h"
#include "print/formliste.h"
#include "print/formqr.h"
#include "print/formqrliste.h"
#include "print/formumschalg.h"
#include "print/printdialogs.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <exception>
#include <memory>
#include <vector>

THauptformular* Hauptformular = nullptr;
TAboutBox* AboutBox = nullptr;
TFormUmschalg* FormUmschalg = nullptr;
TFormBild* FormBild = nullptr;
TFormBildSpeichern* FormBildSpeichern = nullptr;
TFormQR* FormQR = nullptr;
TFormQRListe* FormQRListe = nullptr;
TFormListe* FormListe = nullptr;
TFormStandardtabelle* FormStandardtabelle = nullptr;
TFormSuchen* FormSuchen = nullptr;
TFormPersonAuswahl* FormPersonAuswahl = nullptr;
TFormTabelle* FormTabelle = nullptr;

namespace vellumo {

ProgramWindows::~ProgramWindows() {
    destroy();
}

template <class Window, class... Args>
Window* ProgramWindows::create(Window*& instance, Args&&... args) {
    auto window = std::make_unique<Window>(std::forward<Args>(args)...);
    instance = window.get();
    Window** slot = &instance;
    owned_.push_back({std::move(window), [slot] { *slot = nullptr; }});
    return instance;
}

template <class Window> Window* ProgramWindows::adopt(std::unique_ptr<Window> window) {
    Window* made = window.get();
    owned_.push_back({std::move(window), [] {}});
    return made;
}

void ProgramWindows::destroy() {
    while (!owned_.empty()) {
        owned_.back().forget();
        owned_.back().window.reset();
        owned_.pop_back();
    }
}

void ProgramWindows::createAll() {
    THauptformular* main = create(Hauptformular);
    DataSource& source = main->Datenquelle;
    TAboutBox* about = create(AboutBox);
    TFormUmschalg* umschlag = create(FormUmschalg);
    // Both picture windows belong to the main window, so they stay above it.
    TFormBild* bild = create(FormBild, &source, main);
    TFormBildSpeichern* bildSpeichern = create(FormBildSpeichern, &source, &bild->DBImage1, main);
    bild->setChooser(bildSpeichern);
    umschlag->setReportLayout(create(FormQR));
    TFormQRListe* listLayout = create(FormQRListe, source);
    TFormListe* liste = create(FormListe);
    liste->setReportLayout(listLayout);
    TFormStandardtabelle* standardtabelle = create(FormStandardtabelle, main->OpenDialog());
    // The search dialog hands its matches to the selection list, so the list
    // has to exist first.
    TFormPersonAuswahl* personAuswahl = create(FormPersonAuswahl, source);
    TFormSuchen* suchen = create(FormSuchen, source, *personAuswahl);
    // From now on the search dialog's input controls follow the entry fields.
    QObject::connect(&main->colours(), &aids::ColourSettings::entryBackgroundSet, suchen,
                     &TFormSuchen::setInputBackground);
    QObject::connect(&main->colours(), &aids::ColourSettings::entryTextSet, suchen,
                     &TFormSuchen::setInputTextColor);
    TFormTabelle* tabelle = create(FormTabelle, source);
    // The search dialog's help button opens its page of the handbook.
    QObject::connect(suchen, &TFormSuchen::helpRequested, main, [main, suchen](int context) {
        aids::showHelpContext(main->help(), context, suchen);
    });
    // After the twelve: the dialogs of the registered print styles.
    std::map<QString, QDialog*> printing;
    for (const print::PrintDialogEntry& entry : print::printDialogs())
        printing[entry.style] = adopt(entry.create({source, main}));
    main->setDialogs({.about = about,
                      .umschlag = umschlag,
                      .bild = bild,
                      .bildSpeichern = bildSpeichern,
                      .liste = liste,
                      .standardtabelle = standardtabelle,
                      .suchen = suchen,
                      .tabelle = tabelle,
                      .printing = printing});

    // Only closing the main window ends the program, whatever else is open.
    for (const Entry& entry : owned_)
        if (entry.window.get() != main)
            entry.window->setAttribute(Qt::WA_QuitOnClose, false);
}

void nameApplication(QApplication& app) {
    app.setApplicationName(QStringLiteral("Vellumo"));
    // No display name: Qt would append it to every title under X11, and the
    // window manager shows a window's caption exactly as the window gives it.
    // The desktop still knows the program as "Vellumo" by its class and entry.
    app.setDesktopFileName(QStringLiteral("vellumo"));
}

void initialiseApplication(QApplication& app) {
    nameApplication(app);
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/vellumo.png")));
    // The layouts were drawn for these fonts; Liberation Sans has the same metrics.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    app.setFont(font);

    // Qt's own dialogs (file list dates, types, buttons) speak German like
    // the rest of the program, whatever the system's locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);

    nameButtonsAndSharpenPictures(app);
    decideSettingsLocation();
    // One picture limit for the whole program: what the chooser takes, the viewer shows.
    pictures::applyDecoderLimit();
}

int runVellumo(QApplication& app) {
    // Before the splash: the window class is fixed with the first window.
    nameApplication(app);
    auto splash = std::make_unique<TSplashScreen>(splashMinimumMs());
    splash->show();
    splash->repaint();
    QApplication::processEvents();

    initialiseApplication(app);

    ProgramWindows windows;
    try {
        windows.createAll();
    } catch (const std::exception& e) {
        windows.destroy();
        splash.reset();
        showError(errorText(e));
        return 1;
    }

    // Wait while the splash refuses to close; waiting for events instead of
    // spinning keeps a core free during the start.
    do {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } while (!splash->FormCloseQuery());
    splash.reset();

    Hauptformular->show();
    THauptformular* main = Hauptformular;
    QTimer::singleShot(0, main, guarded([main] { main->AfterStart(); }));
    const int result = app.exec();
    windows.destroy();
    return result;
}

} // namespace vellumo
