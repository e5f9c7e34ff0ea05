// The sync's three-way decisions: nothing either side changed is lost.
#include "platform/carddav/merge.h"

#include <QTest>

using namespace vellumo::carddav;

class TestMerge : public QObject {
    Q_OBJECT

private slots:
    void fieldsMergeAndConflictsKeepBothValues();
    void aChangeBeatsADelete();
};

void TestMerge::fieldsMergeAndConflictsKeepBothValues() {
    const Fields base{{"Name", "Müller"}, {"Ort", "Köln"}, {"Telefon1", "1"}, {"Notiz", "alt"}};
    Fields local = base, server = base;
    local["Ort"] = "Bonn";    // changed here only
    server["Telefon1"] = "2"; // changed there only
    local["Notiz"] = "hier";  // changed on both, differently
    server["Notiz"] = "dort";
    local["EMail"] = "a@example.org"; // added on both, alike
    server["EMail"] = "a@example.org";
    server.remove("Name"); // emptied there

    const FieldMerge m = mergeFields(base, local, server);
    QCOMPARE(
        m.merged,
        (Fields{
            {"Ort", "Bonn"}, {"Telefon1", "2"}, {"Notiz", "hier"}, {"EMail", "a@example.org"}}));
    QCOMPARE(m.conflicts, (QList<Conflict>{{"Notiz", "hier", "dort"}}));
    QVERIFY(m.localChanges && m.serverChanges);

    // Equal changes on both sides are no conflict and no work.
    const FieldMerge same = mergeFields(base, server, server);
    QVERIFY(same.conflicts.isEmpty() && !same.localChanges && !same.serverChanges);
}

void TestMerge::aChangeBeatsADelete() {
    const Side gone{false, false}, kept{true, false}, edited{true, true};
    QCOMPARE(decide(true, edited, gone), CardAction::Upload);
    QCOMPARE(decide(true, gone, edited), CardAction::Download);
    QCOMPARE(decide(true, kept, gone), CardAction::DeleteLocal);
    QCOMPARE(decide(true, gone, kept), CardAction::DeleteServer);
    QCOMPARE(decide(true, gone, gone), CardAction::Forget);
    QCOMPARE(decide(true, edited, edited), CardAction::Merge);
    QCOMPARE(decide(true, kept, kept), CardAction::Nothing);
    // Without a base a card is new where it is; on both sides it is merged,
    // never doubled.
    QCOMPARE(decide(false, kept, gone), CardAction::Upload);
    QCOMPARE(decide(false, gone, kept), CardAction::Download);
    QCOMPARE(decide(false, kept, kept), CardAction::Merge);
}

QTEST_GUILESS_MAIN(TestMerge)
#include "tst_merge.moc"
