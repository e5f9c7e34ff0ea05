// The picture viewer, the picture file chooser and the record's picture
// holder on a real address table.
#include "fixtures.h"
#include "testsupport.h"

#include "address/addresstable.h"
#include "addresstables.h"
#include "exchange/exchange.h"
#include "pictures/formbild.h"
#include "pictures/formbildspeichern.h"
#include "pictures/previewimage.h"
#include "platform/database/datasource.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/io.h"
#include "platform/pictures/graphicfield.h"
#include "platform/pictures/limits.h"
#include "platform/settings/profile.h"
#include "testutil_counting.h"

#ifdef VELLUMO_HAVE_PXLIB
extern "C" {
#include <paradox.h>
}
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace vellumo;

namespace {

const QDateTime kToday(QDate(2026, 3, 14), QTime(9, 30));

QImage solid(int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

bool clipboardEmpty() {
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    return !mime || mime->formats().isEmpty();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

#ifdef VELLUMO_HAVE_PXLIB
// The graphic of the first record as pxlib reads it, written to out. pxlib
// 0.6.8 overruns its stack on .mb files whose length is a multiple of 4 KiB
// (every well-formed one); a copy without its last padding byte is read, and
// in a child process, so that a crash fails the test instead of ending it.
bool readGraphicWithPxlib(const QString& db, const QString& mb, const QString& out) {
    const QString trimmed = mb + ".pxlib";
    QFile::remove(trimmed);
    if (!QFile::copy(mb, trimmed))
        return false;
    QFile copy(trimmed);
    if (!copy.open(QIODevice::ReadWrite) || copy.size() < 4097)
        return false;
    copy.seek(copy.size() - 1);
    if (copy.read(1) != QByteArray(1, '\0') || !copy.resize(copy.size() - 1))
        return false;
    copy.close();
    const QByteArray dbPath = db.toLocal8Bit(), mbPath = trimmed.toLocal8Bit(),
                     outPath = out.toLocal8Bit();
    const pid_t child = fork();
    if (child == 0) {
        pxdoc_t* doc = PX_new();
        if (PX_open_file(doc, dbPath.constData()) < 0 ||
            PX_set_blob_file(doc, mbPath.constData()) < 0)
            _exit(2);
        pxval_t** values = PX_retrieve_record(doc, 0);
        const int fields = PX_get_num_fields(doc);
        for (int i = 0; values && i < fields; ++i) {
            if (values[i]->type == pxfGraphic && !values[i]->isnull) {
                FILE* f = fopen(outPath.constData(), "wb");
                fwrite(values[i]->value.str.val, 1, size_t(values[i]->value.str.len), f);
                fclose(f);
                _exit(0);
            }
        }
        _exit(3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

} // namespace

class tst_Pictures : public QObject {
    Q_OBJECT

    struct Fixture {
        testsupport::Sandbox sandbox;
        testsupport::FixedClock clock{kToday};
        RecordStore store;
        DataSource source{store};
        TFormBild viewer{&source};
        TFormBildSpeichern chooser{&source, &viewer.DBImage1};

        // names: one record each, in key order; pictures: the picture of each (null: none).
        explicit Fixture(const QStringList& names = {}, const QList<QImage>& pictures = {},
                         px::FileSystem& fs = px::defaultFileSystem())
            : store(fs) {
            viewer.setChooser(&chooser);
            QList<testsupport::Address> rows;
            for (int i = 0; i < names.size(); ++i) {
                rows << testsupport::Address{{"Name", names[i]}};
                if (i < pictures.size() && !pictures[i].isNull())
                    rows.back().insert("Grafik",
                                       pictures::graphicFieldFromImage(pictures[i], nullptr));
            }
            testsupport::makeAddressTable(store, sandbox.file("Adressen"), rows);
            store.BeforePost = [this] { store.SetFieldDate("Aenderung", kToday); };
        }
        QByteArray grafik() const { return store.fieldValue("Grafik").toByteArray(); }
        QImage storedPicture() const { return pictures::imageFromGraphicField(grafik()); }
        // Shows the viewer the way the main window's button does; act runs while it is open.
        void view(const std::function<void(TFormBild&)>& act) {
            testsupport::whenModal([this, act](QWidget*) { act(viewer); });
            viewer.ButtonSeePicClick();
        }
        QToolButton* button(const char* name) { return viewer.findChild<QToolButton*>(name); }
    };

private slots:

    void viewerSizesItselfToThePicture() {
        // The client area holds the toolbar and the whole picture, whatever
        // frame the window manager draws; the window is centred in the free area.
        const QRect screen(0, 0, 1024, 768);
        const QMargins frame(4, 22, 4, 4);
        auto at = [](const TFormBild::Placement& p) { return QRect(QPoint(), p.area); };
        QCOMPARE(TFormBild::placementFor({50, 40}, screen, {}).client,
                 QRect((1024 - 97) / 2, (768 - 73) / 2, 97, 73));
        QCOMPARE(at(TFormBild::placementFor({}, screen, frame)), QRect(0, 0, 105, 105));
        const TFormBild::Placement normal = TFormBild::placementFor({300, 200}, screen, frame);
        QCOMPARE(normal.area, QSize(300, 200));
        QCOMPARE(normal.client, QRect(358 + 4, 254 + 22, 300, 233));
        // Larger than the free area: scaled down, proportions kept, buttons on the screen.
        const TFormBild::Placement big =
            TFormBild::placementFor({4000, 3000}, QRect(0, 30, 1024, 738), frame);
        QCOMPARE(big.area, QSize(905, 679));
        QCOMPARE(big.client, QRect((1024 - 913) / 2 + 4, 30 + 22, 905, 712));

        Fixture f({"Anders", "Berger", "Conrad"},
                  {QImage(), solid(50, 40, qRgb(200, 0, 0)), QImage()});
        QSize size;
        auto look = [&](TFormBild& v) { size = v.geometry().size(); };
        // No picture: the image area has its empty size, 105 x 105.
        f.view([&](TFormBild& v) {
            look(v);
            QTest::keyClick(v.image(), Qt::Key_Escape);
        });
        QCOMPARE(size, QSize(105, 138));
        QVERIFY(!f.viewer.isVisible());

        f.store.StepForward();
        f.view([&](TFormBild& v) {
            look(v);
            QCOMPARE(v.image()->size(), QSize(50, 40));
            QCOMPARE(v.image()->pixmap().toImage().pixel(10, 10), qRgb(200, 0, 0));
            QTest::mouseClick(v.image(), Qt::LeftButton, {}, QPoint(5, 5));
        });
        QCOMPARE(size, QSize(97, 73));
        QVERIFY(!f.viewer.isVisible());

        // A record without a picture after one with: blank, at the empty size again.
        f.store.StepForward();
        f.view([&](TFormBild& v) {
            look(v);
            QVERIFY(v.image()->pixmap().isNull());
            f.button("SpeedButton1")->click();
        });
        QCOMPARE(size, QSize(105, 138));
        QCOMPARE(f.store.state(), StoreState::Browsing);
        QCOMPARE(f.store.fieldText("Aenderung"), QString());
    }

    void deleteEmptiesTheFieldStampsTheDateAndEmptiesTheClipboard() {
        Fixture f({"Anders", "Berger"}, {solid(60, 30, qRgb(0, 150, 0)), QImage()});
        QApplication::clipboard()->setText("vorher");
        bool openAfterDelete = false;
        QSize areaAfterDelete;
        f.view([&](TFormBild& v) {
            f.button("LoeschenButton")->click();
            openAfterDelete = v.isVisible();
            areaAfterDelete = v.image()->size();
            QVERIFY(v.image()->pixmap().isNull());
            QTest::keyClick(&v, Qt::Key_Escape);
        });
        QVERIFY(openAfterDelete);
        QCOMPARE(areaAfterDelete, QSize(60, 30));
        QCOMPARE(f.store.state(), StoreState::Browsing);
        QVERIFY(f.grafik().isEmpty());
        QCOMPARE(f.store.fieldText("Aenderung"), QStringLiteral("14.03.2026"));
        QVERIFY(clipboardEmpty());

        // On a record without a picture nothing changes but the clipboard.
        f.store.StepForward();
        QApplication::clipboard()->setText("vorher");
        f.view([&](TFormBild&) {
            f.button("LoeschenButton")->click();
            f.button("SpeedButton1")->click();
        });
        QCOMPARE(f.store.fieldText("Aenderung"), QString());
        QCOMPARE(f.store.state(), StoreState::Browsing);
        QVERIFY(clipboardEmpty());
    }

    void holderFollowsTheRecordAndDropsACancelledChange() {
        Fixture f({"Anders", "Berger"}, {solid(20, 10, qRgb(0, 0, 255)), QImage()});
        pictures::DBImage& holder = f.viewer.DBImage1;
        QCOMPARE(holder.picture().size(), QSize(20, 10));
        f.store.StepForward();
        QVERIFY(!holder.hasPicture());

        QApplication::clipboard()->setImage(solid(7, 5, qRgb(1, 2, 3)));
        QVERIFY(holder.pasteFromClipboard());
        QCOMPARE(f.store.state(), StoreState::Editing);
        QVERIFY(holder.isModified());
        QCOMPARE(holder.picture().size(), QSize(7, 5));
        f.store.DiscardChanges();
        QVERIFY(!holder.hasPicture());
        QVERIFY(!holder.isModified());
        QVERIFY(f.grafik().isEmpty());

        // Typing in another field keeps the picture without fetching it anew;
        // saving writes nothing new into "Grafik".
        f.store.GoToFirst();
        const QByteArray before = f.grafik();
        f.store.BeginEdit();
        f.store.SetFieldText("Ort", "Bonn");
        f.store.SaveRecord();
        QCOMPARE(f.grafik(), before);
        QCOMPARE(holder.picture().size(), QSize(20, 10));

        // Too large for the table: refused with a message, nothing changes.
        QImage huge(17000, 17000, QImage::Format_Mono);
        huge.setColorCount(2);
        huge.setColor(0, qRgb(0, 0, 0));
        huge.setColor(1, qRgb(255, 255, 255));
        huge.fill(1);
        QApplication::clipboard()->setImage(huge);
        QString message;
        testsupport::whenModal([&](QWidget* box) {
            message = testsupport::messageText(box);
            testsupport::clickButton(box, "OK");
        });
        QVERIFY(!holder.pasteFromClipboard());
        QVERIFY2(message.startsWith(QStringLiteral("Das Bild ist zu groß für die Tabelle")),
                 qPrintable(message));
        QCOMPARE(f.store.state(), StoreState::Browsing);
        QCOMPARE(f.grafik(), before);
    }

    void chooserListsPictureFilesAndPreviewsTheSelection() {
        Fixture f({"Anders"});
        const QString dir = f.sandbox.file("bilder");
        QVERIFY(QDir().mkpath(dir + "/unten"));
        writeFile(dir + "/FOTO.BMP", fixtures::bmp());
        writeFile(dir + "/a.jpg", fixtures::jpeg());
        writeFile(dir + "/b.bmp", fixtures::bmp());
        writeFile(dir + "/c.jpeg", fixtures::jpeg());
        writeFile(dir + "/d.tga", fixtures::tga(true, true, false));
        writeFile(dir + "/e.png", "kein Bild");
        writeFile(dir + "/notiz.txt", "x");
        QVERIFY(QDir().mkpath(dir + "/ordner.bmp"));
        TFormBildSpeichern& c = f.chooser;
        const QString workingDir = QDir::currentPath();
        QVERIFY(c.setDirectory(dir));
        QStringList listed;
        for (int i = 0; i < c.fileList()->count(); ++i)
            listed << c.fileList()->item(i)->text();
        QCOMPARE(listed, QStringList({"a.jpg", "b.bmp", "c.jpeg", "d.tga", "e.png", "FOTO.BMP"}));
        QVERIFY(c.preview()->picture().isNull());
        QCOMPARE(c.noteLabel()->text(), QString());

        c.fileList()->setCurrentRow(4);
        QCOMPARE(c.noteLabel()->text(), QStringLiteral("Das Format wird nicht erkannt."));
        c.fileList()->setCurrentRow(3);
        QCOMPARE(c.noteLabel()->text(), QStringLiteral("64 × 48 Pixel"));
        QCOMPARE(c.preview()->picture().size(), QSize(fixtures::kWidth, fixtures::kHeight));
        QCOMPARE(c.preview()->picture().pixel(2, 2), fixtures::kRed);
        c.stretchBox()->click();
        QVERIFY(c.preview()->stretch());
        QCOMPARE(c.preview()->size(), QSize(173, 173));

        // Into the subdirectory: nothing selected, the preview empty, the working directory along.
        QListWidget* dirs = c.directoryList();
        QListWidgetItem* sub = nullptr;
        for (int i = 0; i < dirs->count(); ++i)
            if (dirs->item(i)->text().trimmed() == QLatin1String("unten"))
                sub = dirs->item(i);
        QVERIFY(sub);
        emit dirs->itemActivated(sub);
        QCOMPARE(c.directory(), QFileInfo(dir + "/unten").canonicalFilePath());
        // The chooser keeps its own folder; the program's stays where it was.
        QCOMPARE(QDir::currentPath(), workingDir);
        QCOMPARE(c.fileList()->count(), 0);
        QVERIFY(c.preview()->picture().isNull());
        QVERIFY(c.stretchBox()->isChecked());
    }

    void okStoresThePreviewOrSavesWithoutChangingThePicture() {
        Fixture f({"Anders"}, {solid(30, 20, qRgb(9, 9, 9))});
        const QByteArray before = f.grafik();
        QApplication::clipboard()->setText("vorher");
        // Empty preview: saved (date stamped), picture unchanged, clipboard empty.
        testsupport::whenModal(
            [](QWidget* w) { static_cast<TFormBildSpeichern*>(w)->okButton()->click(); });
        f.chooser.showModal();
        QVERIFY(!f.chooser.isVisible());
        QCOMPARE(f.store.state(), StoreState::Browsing);
        QCOMPARE(f.grafik(), before);
        QCOMPARE(f.store.fieldText("Aenderung"), QStringLiteral("14.03.2026"));
        QVERIFY(clipboardEmpty());

        // With a picture the natural size is stored, stretched preview or not.
        writeFile(f.sandbox.file("neu.gif"), fixtures::gif());
        QVERIFY(f.chooser.setDirectory(f.sandbox.path()));
        f.chooser.fileList()->setCurrentRow(0);
        f.chooser.stretchBox()->setChecked(true);
        testsupport::whenModal([](QWidget* w) {
            QTest::keyClick(static_cast<TFormBildSpeichern*>(w)->fileList(), Qt::Key_Escape);
        });
        f.chooser.showModal();
        QCOMPARE(f.grafik(), before); // Esc changed nothing
        testsupport::whenModal(
            [](QWidget* w) { static_cast<TFormBildSpeichern*>(w)->okButton()->click(); });
        f.chooser.showModal();
        QCOMPARE(f.storedPicture().size(), QSize(fixtures::kWidth, fixtures::kHeight));
        QVERIFY(f.grafik().startsWith("BM"));
        QVERIFY(clipboardEmpty());
    }

    // A file that gives no picture says why under the preview, and "OK" says
    // so again instead of closing as if it had worked; Enter on a good file
    // stores it like "OK".
    void unusableFilesAreExplainedAndOkStaysOpen() {
        Fixture f({"Anders"}, {solid(30, 20, qRgb(9, 9, 9))});
        const QByteArray before = f.grafik();
        const QByteArray jpeg = fixtures::jpeg();
        writeFile(f.sandbox.file("a-kurz.jpg"), jpeg.left(jpeg.size() / 2));
        QByteArray bomb("GIF89a");
        bomb.append(QByteArray("\xFF\xFF\xFF\xFF\x80\x00\x00", 7));
        bomb.append(QByteArray("\x00\x00\x00\xFF\xFF\xFF", 6));
        bomb.append(QByteArray("\x2C\x00\x00\x00\x00\xFF\xFF\xFF\xFF\x00", 10));
        bomb.append(QByteArray("\x02\x02\x44\x01\x00\x3B", 6));
        writeFile(f.sandbox.file("b-bombe.gif"), bomb);
        writeFile(f.sandbox.file("c-gut.bmp"), fixtures::bmp());
        TFormBildSpeichern& c = f.chooser;
        QVERIFY(c.setDirectory(f.sandbox.path()));
        c.showModeless();

        const struct {
            int row;
            QString reason;
        } cases[] = {{0, QStringLiteral("Die Datei ist beschädigt.")},
                     {1, QStringLiteral("Das Bild ist zu groß")}};
        for (const auto& one : cases) {
            c.fileList()->setCurrentRow(one.row);
            QVERIFY2(c.noteLabel()->text().startsWith(one.reason),
                     qPrintable(c.noteLabel()->text()));
            QVERIFY(c.preview()->picture().isNull());
            QString title, text;
            testsupport::whenModal([&](QWidget* box) {
                title = box->windowTitle();
                text = testsupport::messageText(box);
                testsupport::clickButton(box, "OK");
            });
            c.okButton()->click();
            QCOMPARE(title, QStringLiteral("Fehler"));
            QVERIFY2(text.contains(one.reason), qPrintable(text));
            QVERIFY(c.isVisible());
            QCOMPARE(f.store.state(), StoreState::Browsing);
            QCOMPARE(f.grafik(), before);
        }

        c.fileList()->setCurrentRow(2);
        c.fileList()->setFocus();
        QTest::keyClick(c.fileList(), Qt::Key_Return);
        QVERIFY(!c.isVisible());
        QCOMPARE(f.storedPicture().size(), QSize(fixtures::kWidth, fixtures::kHeight));
    }

    // A photograph larger than the stored size is scaled down on "OK",
    // proportions kept, and shows; at the largest stored size it shows,
    // exports through the table tool and deletes.
    void largePicturesAreStoredScaledAndShowExportAndDelete() {
        Fixture f({"Anders"});
        writeFile(f.sandbox.file("foto.jpg"), fixtures::bigJpeg(5000, 2500));
        TFormBildSpeichern& c = f.chooser;
        QVERIFY(c.setDirectory(f.sandbox.path()));
        auto store = [&] {
            c.fileList()->clearSelection();
            c.fileList()->setCurrentRow(0);
            testsupport::whenModal(
                [](QWidget* w) { static_cast<TFormBildSpeichern*>(w)->okButton()->click(); });
            c.showModal();
        };
        store();
        QCOMPARE(c.noteLabel()->text(),
                 QStringLiteral("5000 × 2500 Pixel, wird verkleinert auf 1024 × 512 gespeichert."));
        QCOMPARE(f.storedPicture().size(), QSize(1024, 512));

        QVERIFY(
            WriteSettingNumber(setupIniPath(), "Bilder", "LangeSeite", pictures::kMaxStoredSide));
        store();
        QCOMPARE(f.storedPicture().size(), QSize(4096, 2048));
        f.view([&](TFormBild& v) {
            QVERIFY(!v.image()->pixmap().isNull());
            QTest::keyClick(&v, Qt::Key_Escape);
        });

        const QString db = f.store.tableFileName();
        const QString vcf = f.sandbox.file("alle.vcf");
        const QString line =
            QStringLiteral("'%1' export --vcard '%2' '%3'").arg(VELLUMO_TABLE_TOOL, db, vcf);
        QCOMPARE(::system(line.toLocal8Bit().constData()), 0);
        QFile cards(vcf);
        QVERIFY(cards.open(QIODevice::ReadOnly));
        QVERIFY(cards.readAll().contains("PHOTO;"));

        f.view([&](TFormBild& v) {
            f.button("LoeschenButton")->click();
            QTest::keyClick(&v, Qt::Key_Escape);
        });
        QVERIFY(f.grafik().isEmpty());
    }

    // Bytes that are no picture (damaged, or from a tool that stored
    // something else) can still be deleted through the viewer.
    void aFieldThatDoesNotDecodeCanBeDeleted() {
        Fixture f({"Anders"});
        f.store.BeginEdit();
        f.store.setFieldValue("Grafik", QByteArray("BM kein Bild, nur Text"));
        f.store.SaveRecord();
        QVERIFY(!f.grafik().isEmpty());
        QVERIFY(!f.viewer.DBImage1.hasPicture());
        f.view([&](TFormBild& v) {
            QVERIFY(v.image()->pixmap().isNull());
            f.button("LoeschenButton")->click();
            QTest::keyClick(&v, Qt::Key_Escape);
        });
        QVERIFY(f.grafik().isEmpty());
        QCOMPARE(f.store.fieldText("Aenderung"), QStringLiteral("14.03.2026"));
    }

    // Moves, typing, saves, a CSV export and the grid's text read nothing of the pictures;
    // a picture stored is not read back; the viewer reads it when it shows it.
    void picturesAreReadOnlyWhenShown() {
        testutil::TrafficFileSystem fs(px::defaultFileSystem());
        std::uint64_t before = 0;
        auto mbRead = [&] { return qint64(fs.of(".mb").bytesRead - before); };
        Fixture f({"Anders", "Berger", "Conrad"},
                  {solid(600, 400, qRgb(200, 0, 0)), solid(600, 400, qRgb(0, 200, 0)), QImage()},
                  fs);
        before = fs.of(".mb").bytesRead;
        f.store.GoToFirst();
        f.store.StepForward();
        f.store.StepForward();
        f.store.GoToFirst();
        QCOMPARE(f.store.textAt(1, "Grafik"), QString());
        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        QCOMPARE(exchange::exportRecords(f.store, exchange::Format::Csv, csv, {}), 3);
        QVERIFY(csv.data().contains("Berger"));
        f.store.BeginEdit();
        f.store.SetFieldText("Ort", "Bonn");
        f.store.SaveRecord();
        QCOMPARE(mbRead(), 0);

        QApplication::clipboard()->setImage(solid(800, 600, qRgb(0, 0, 200)));
        QVERIFY(f.viewer.DBImage1.pasteFromClipboard());
        f.store.SaveRecord();
        QApplication::clipboard()->clear();
        // Block headers, and the picture it replaces, read once and kept so the save can be undone.
        QVERIFY2(mbRead() < 64 * 1024 + 600 * 400 * 4, qPrintable(QString::number(mbRead())));
        QCOMPARE(f.store.fieldText("Ort"), QStringLiteral("Bonn"));
        const qint64 afterSave = mbRead();
        f.store.StepForward();
        f.store.GoToFirst();
        QVERIFY2(mbRead() - afterSave < 64 * 1024, qPrintable(QString::number(mbRead())));

        f.view([&](TFormBild& v) {
            QCOMPARE(v.image()->pixmap().toImage().pixel(5, 5), qRgb(0, 0, 200));
            QTest::keyClick(&v, Qt::Key_Escape);
        });
        QVERIFY(mbRead() >= 800 * 600 * 3);
        f.store.StepForward();
        QCOMPARE(f.storedPicture().pixel(5, 5), qRgb(0, 200, 0));
    }

    void okOnAnEmptyTableStartsARecord() {
        Fixture f;
        writeFile(f.sandbox.file("x.bmp"), fixtures::bmp());
        QVERIFY(f.chooser.setDirectory(f.sandbox.path()));
        f.chooser.fileList()->setCurrentRow(0);
        testsupport::whenModal(
            [](QWidget* w) { static_cast<TFormBildSpeichern*>(w)->okButton()->click(); });
        f.chooser.showModal();
        QCOMPARE(f.store.CountRecords(), 1);
        QCOMPARE(f.store.fieldText("Name"), QString());
        QCOMPARE(f.store.fieldText("Aenderung"), QStringLiteral("14.03.2026"));
        QCOMPARE(f.storedPicture().pixel(2, 2), fixtures::kRed);
    }

    void chooserFromTheViewerIsModelessAndStoresIntoTheRecordCurrentAtOk() {
        Fixture f({"Anders", "Berger"});
        writeFile(f.sandbox.file("x.pcx"), fixtures::pcx());
        QVERIFY(f.chooser.setDirectory(f.sandbox.path()));
        f.view([&](TFormBild&) { f.button("LadenButton")->click(); });
        QVERIFY(!f.viewer.isVisible());
        QVERIFY(f.chooser.isVisible());
        QVERIFY(!f.chooser.isModal());
        // The preview and the directory are still those of before.
        QCOMPARE(f.chooser.directory(), QFileInfo(f.sandbox.path()).canonicalFilePath());
        f.chooser.fileList()->setCurrentRow(0);
        f.store.StepForward();
        f.chooser.okButton()->click();
        QVERIFY(!f.chooser.isVisible());
        QCOMPARE(f.store.fieldText("Name"), QStringLiteral("Berger"));
        QCOMPARE(f.storedPicture().size(), QSize(fixtures::kWidth, fixtures::kHeight));
        f.store.GoToFirst();
        QVERIFY(f.grafik().isEmpty());
    }

    void aStoredPictureReadsBackThroughPxlibAndTheTableTool() {
        QByteArray bitmap;
        QString db;
        {
            Fixture f({"Anders"});
            writeFile(f.sandbox.file("x.tga"), fixtures::tga(true, false, true));
            QVERIFY(f.chooser.setDirectory(f.sandbox.path()));
            f.chooser.fileList()->setCurrentRow(0);
            f.chooser.showModeless();
            f.chooser.okButton()->click();
            bitmap = f.grafik();
            QCOMPARE(bitmap.size(), 54 + fixtures::kWidth * fixtures::kHeight * 3);
            db = f.store.tableFileName();
            f.store.CloseTable();
            const QString mb = db.left(db.size() - 3) + ".mb";
            // On disk: the prefix other tools expect, then the bitmap.
            QFile file(mb);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray all = file.readAll();
            QVERIFY(all.contains(pictures::withGraphicPrefix(bitmap)));
#ifdef VELLUMO_HAVE_PXLIB
            const QString out = f.sandbox.file("pxlib.bmp");
            QVERIFY(readGraphicWithPxlib(db, mb, out));
            QFile read(out);
            QVERIFY(read.open(QIODevice::ReadOnly));
            const QByteArray theirs = read.readAll();
            QCOMPARE(theirs.size(), bitmap.size());
            QVERIFY(theirs == bitmap);
            QImage image;
            QVERIFY(image.loadFromData(theirs, "BMP"));
            QCOMPARE(image.pixel(2, 2), fixtures::kRed);
            QCOMPARE(image.pixel(fixtures::kWidth - 3, fixtures::kHeight - 3), fixtures::kBlue);
#endif
            const QString line = QStringLiteral("'%1' dump '%2'").arg(VELLUMO_TABLE_TOOL, db);
            FILE* pipe = ::popen(line.toLocal8Bit().constData(), "r");
            QVERIFY(pipe);
            QByteArray dump;
            char buf[4096];
            for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
                dump.append(buf, qsizetype(n));
            QCOMPARE(::pclose(pipe), 0);
            const QList<QByteArray> lines = dump.trimmed().split('\n');
            QCOMPARE(lines.size(), 2);
            const int column = static_cast<int>(lines[0].split(',').indexOf("Grafik"));
            QVERIFY(column >= 0);
            QCOMPARE(lines[1].split(',').value(column), QByteArray::number(bitmap.size()));
        }
    }

    void aDriveThatCannotBeReadIsReportedAndTheListStays() {
        Fixture f;
        const QString here = f.chooser.directory();
        auto drives = f.chooser.drives();
        drives.append({f.sandbox.file("kein-datentraeger"), "leer"});
        f.chooser.setDrives(drives);
        QString title, text;
        testsupport::whenModal([&](QWidget* box) {
            title = box->windowTitle();
            text = testsupport::messageText(box);
            QCOMPARE(static_cast<QMessageBox*>(box)->icon(), QMessageBox::Critical);
            testsupport::clickButton(box, "OK");
        });
        f.chooser.driveBox()->setCurrentIndex(static_cast<int>(drives.size()) - 1);
        f.chooser.DriveComboBox1Change();
        QCOMPARE(title, QStringLiteral("Fehler"));
        QCOMPARE(text, QStringLiteral("Kann auf Laufwerk nicht zugreifen. Eventuell ist kein "
                                      "Datenträger eingelegt."));
        QCOMPARE(f.chooser.directory(), here);
        QVERIFY(f.chooser.driveBox()->currentIndex() != drives.size() - 1);
    }
};

QTEST_MAIN(tst_Pictures)
#include "tst_pictures.moc"
