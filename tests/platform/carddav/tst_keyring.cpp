// Sync passwords in a real keyring (GNOME Keyring on a private session bus,
// started by scripts/with-keyring.sh): stored, replaced, found only for
// their own account, removed.
#include "platform/carddav/keyring.h"

#include <QTest>

using namespace vellumo::carddav;

class TestKeyring : public QObject {
    Q_OBJECT

private slots:
    void passwordsLiveInTheKeyring();
};

void TestKeyring::passwordsLiveInTheKeyring() {
    if (!keyring::available())
        QSKIP("Kein Schlüsselbund (Secret Service) auf dem Sitzungsbus.");
    const QUrl book(QStringLiteral("http://127.0.0.1:5232/anna/buch/"));
    const QUrl otherBook(QStringLiteral("http://127.0.0.1:5232/anna/zweites/"));
    keyring::store(book, QStringLiteral("anna"), QStringLiteral("gehéim ä"));
    // Every book of one server shares the account's password.
    QCOMPARE(keyring::lookup(otherBook, QStringLiteral("anna")), QStringLiteral("gehéim ä"));
    keyring::store(book, QStringLiteral("anna"), QStringLiteral("neu"));
    QCOMPARE(keyring::lookup(book, QStringLiteral("anna")), QStringLiteral("neu"));
    QVERIFY(!keyring::lookup(book, QStringLiteral("bernd")));
    QVERIFY(!keyring::lookup(QUrl(QStringLiteral("http://127.0.0.1:5233/")), "anna"));
    keyring::remove(book, QStringLiteral("anna"));
    QVERIFY(!keyring::lookup(book, QStringLiteral("anna")));
}

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"
