// Not a test: shows the envelope dialog, the list dialog and the list's
// preview on a real X display and saves what the screen shows, for
// docs/screenshots.
//
//   xvfb-run -a -s "-screen 0 1024x768x24" sh -c 'openbox & sleep 1; print_screenshots DIR'
#include "addresstables.h"
#include "app/startup.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/report/preview.h"
#include "print/formliste.h"
#include "print/formqr.h"
#include "print/formqrliste.h"
#include "print/formumschalg.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

void shoot(const QString& file) {
    QTest::qWait(800);
    QGuiApplication::primaryScreen()->grabWindow(0).save(file);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    vellumo::initialiseApplication(app);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());

    vellumo::RecordStore store;
    vellumo::DataSource source(store);
    QList<testsupport::Address> addresses;
    const char* names[][5] = {{"Becker", "Anna", "Lindenweg 3", "20095", "Hamburg"},
                              {"Müller", "Jürgen", "Hauptstraße 12", "80331", "München"},
                              {"Schmidt", "Petra", "Am Markt 7", "50667", "Köln"},
                              {"Weber", "Thomas", "Gartenstraße 21a", "70173", "Stuttgart"}};
    for (auto& n : names)
        addresses << testsupport::Address{{"Name", n[0]},    {"Vorname", n[1]},
                                          {"Strasse", n[2]}, {"PLZ", n[3]},
                                          {"Ort", n[4]},     {"Telefon1", "0711 4711"}};
    testsupport::makeAddressTable(store, dir.filePath("Adressen"), addresses);

    TFormQR envelopeLayout;
    TFormUmschalg envelope;
    envelope.setReportLayout(&envelopeLayout);
    QTimer::singleShot(0, [&] {
        envelope.findChild<QPlainTextEdit*>("AbsenderMemo")
            ->setPlainText("Erika Musterfrau\nHeidestraße 17\n51147 Köln\n\n");
        shoot(out + "/umschlag-drucken.png");
        envelope.reject();
    });
    envelope.ShowFor({.vorname = "Jürgen",
                      .name = "Müller",
                      .strasse = "Hauptstraße 12",
                      .plz = "80331",
                      .ort = "München",
                      .land = ""});

    TFormQRListe listLayout(source);
    TFormListe list;
    list.setReportLayout(&listLayout);
    QTimer::singleShot(0, [&] {
        shoot(out + "/liste-drucken.png");
        QTimer::singleShot(0, [&] {
            QTimer* poll = new QTimer(&app);
            QObject::connect(poll, &QTimer::timeout, [&, poll] {
                auto* preview = qobject_cast<vellumo::report::PreviewWindow*>(
                    QApplication::activeModalWidget());
                if (!preview || !preview->isVisible())
                    return;
                poll->stop();
                shoot(out + "/vorschau.png");
                preview->reject();
            });
            poll->start(50);
        });
        list.findChild<QPushButton*>("VorschauButton")->click();
    });
    list.exec();
    return 0;
}
