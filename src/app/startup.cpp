#include "app/startup.h"

#include "app/hauptformular.h"
#include "app/splashscreen.h"
#include "system/system.h"
#include "ui/messages.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <exception>
#include <memory>

namespace vellumo {

void initialiseApplication(QApplication& app) {
    app.setApplicationName(QStringLiteral("Vellumo"));
    app.setApplicationDisplayName(QStringLiteral("Vellumo"));
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/vellumo.png")));
    // The layouts were drawn for these fonts; Liberation Sans has the same metrics.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    app.setFont(font);

    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
}

int runVellumo(QApplication& app) {
    auto splash = std::make_unique<TSplashScreen>(splashMinimumMs());
    splash->show();
    splash->repaint();
    QApplication::processEvents();

    initialiseApplication(app);

    std::unique_ptr<THauptformular> Hauptformular;
    try {
        Hauptformular = std::make_unique<THauptformular>();
    } catch (const std::exception& e) {
        splash.reset();
        showError(QString::fromUtf8(e.what()));
        return 1;
    }

    // Wait while the splash refuses to close; waiting for events instead of
    // spinning keeps a core free during the start.
    do {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } while (!splash->FormCloseQuery());
    splash.reset();

    Hauptformular->show();
    return app.exec();
}

} // namespace vellumo
