// The e-mail and web fields show their content as a tooltip.
#include "addresstables.h"
#include "testsupport.h"

#include "app/hauptformular.h"
#include "platform/database/boundcontrols.h"
#include "platform/database/recordstore.h"

#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QTest>
#include <QToolButton>
#include <QToolTip>

class tst_FieldTips : public QObject {
    Q_OBJECT

    // What a person sees when the mouse moves onto the field and rests there.
    static QString tipAfterRest(QWidget* field, bool move = true) {
        QToolTip::hideText();
        for (int waited = 0; QToolTip::isVisible() && waited < 3000; waited += 20)
            QTest::qWait(20);
        const QPoint at(5, 5);
        if (move) {
            QMouseEvent moved(QEvent::MouseMove, QPointF(at), QPointF(field->mapToGlobal(at)),
                              Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(field, &moved);
        }
        QHelpEvent rest(QEvent::ToolTip, at, field->mapToGlobal(at));
        QApplication::sendEvent(field, &rest);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }

private slots:
    void tipsFollowTheMouse() {
        testsupport::Sandbox sandbox;
        THauptformular main;
        const QString longAddress = "https://www.example.org/" + QString(75, 'a');
        QCOMPARE(longAddress.size(), 99);
        testsupport::makeAddressTable(main.Datentabelle, sandbox.file("Adressen"),
                                      {{{"Name", "Adler"}, {"Email", "   "}, {"WWW", longAddress}},
                                       {{"Name", "Berger"}, {"Email", "  b@example.org "}}});
        main.EnableTableControls();
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        auto* email = main.findChild<vellumo::DBEdit*>("DBEditEmail");
        auto* www = main.findChild<vellumo::DBEdit*>("DBEditWWW");
        QVERIFY(email && www);

        // Blanks only: no tooltip. The whole 99 characters where the field is narrower.
        QCOMPARE(tipAfterRest(email), QString());
        QCOMPARE(tipAfterRest(www), longAddress);
        QVERIFY(www->fontMetrics().horizontalAdvance(longAddress) > www->width());

        // Typing not yet stored is shown, "<" as written.
        www->setFocus();
        www->selectAll();
        QTest::keyClicks(www, "http://x.example/<b>fett</b>");
        QVERIFY(tipAfterRest(www).contains("&lt;b&gt;fett"));

        // The tooltip changes only with a mouse movement: after the move to the
        // next record the old one stays until the mouse moves again.
        main.Datentabelle.StepForward();
        QCOMPARE(email->text(), QStringLiteral("  b@example.org "));
        QCOMPARE(tipAfterRest(email, false), QString());
        QCOMPARE(tipAfterRest(email), QStringLiteral("  b@example.org "));
        main.Datentabelle.GoToFirst();
        QCOMPARE(tipAfterRest(email, false), QStringLiteral("  b@example.org "));
        QCOMPARE(tipAfterRest(email), QString());
        main.Datentabelle.CloseTableAtShutdown();
    }
};

QTEST_MAIN(tst_FieldTips)
#include "tst_fieldtips.moc"
