// INI files as other programs and people write them: odd case, comments,
// CRLF, Windows-1252, long values, junk numbers; and writes that must fail.
#include "platform/settings/profile.h"
#include "platform/system/system.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace vellumo;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QString profileErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ProfileError& e) {
        return e.text();
    }
    return QString();
}

QList<QByteArray> linesOf(QByteArray bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    return lines;
}

// How many of wanted are missing from a greedy in-order match against have.
int missingInOrder(const QList<QByteArray>& wanted, const QList<QByteArray>& have) {
    int missing = 0;
    qsizetype at = 0;
    for (const QByteArray& line : wanted) {
        qsizetype found = have.indexOf(line, at);
        if (found < 0)
            ++missing;
        else
            at = found + 1;
    }
    return missing;
}

} // namespace

class TestProfile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void init() { QVERIFY(dir_.isValid()); }
    void cleanup() {
        // Read-only leftovers of a failing test must not block the next one.
        QDir d(dir_.path());
        for (const QString& name :
             d.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
            ::chmod(QFile::encodeName(d.filePath(name)).constData(), 0755);
            if (!QFile::remove(d.filePath(name)))
                QDir(d.filePath(name)).removeRecursively();
        }
        resetSettingsLocation();
        setProgramDirectory(QString());
    }

    void readsLikeWindows() {
        const QString ini = path("Setup.ini");
        writeAll(ini, "key=before any section\r\n"
                      "; [Standardtabelle] in a comment\r\n"
                      "[ standardTABELLE ]\r\n"
                      "  fileNAME =  /daten/Kunden.db  \r\n"
                      "FileName=second one loses\r\n"
                      "NoEquals\r\n"
                      "Quoted=\"  with blanks  \"\r\n"
                      "Half=\"open\r\n"
                      "Empty=\r\n"
                      "[Standardtabelle]\r\n"
                      "Other=later section with the same name is not read\r\n"
                      "[Colors]\r\n"
                      "Eingabe=8454143");
        QCOMPARE(GetPrivateProfileString("Standardtabelle", "FileName", "Error", ini),
                 QString("/daten/Kunden.db"));
        QCOMPARE(GetPrivateProfileString("STANDARDTABELLE", "quoted", "", ini),
                 QString("  with blanks  "));
        QCOMPARE(GetPrivateProfileString("Standardtabelle", "Half", "", ini), QString("\"open"));
        QCOMPARE(GetPrivateProfileString("Standardtabelle", "Empty", "d", ini), QString());
        QCOMPARE(GetPrivateProfileString("Standardtabelle", "NoEquals", "d", ini), QString("d"));
        QCOMPARE(GetPrivateProfileString("Standardtabelle", "Other", "d", ini), QString("d"));
        QCOMPARE(GetPrivateProfileString("Standardtabelle", "key", "d", ini), QString("d"));
        QCOMPARE(GetPrivateProfileString("colors", "EINGABE", "", ini), QString("8454143"));
        QCOMPARE(GetPrivateProfileString("Nope", "FileName", "Error", ini), QString("Error"));
        QCOMPARE(GetPrivateProfileString("Colors", "FileName", "Error", ini), QString("Error"));
        QCOMPARE(GetPrivateProfileString("Colors", "Eingabe", "x", path("missing.ini")),
                 QString("x"));
        // A directory where the file should be is just a missing file for a reader.
        QVERIFY(QDir().mkpath(path("dir.ini")));
        QCOMPARE(GetPrivateProfileString("a", "b", "x", path("dir.ini")), QString("x"));
    }

    void rewritesOnlyTheLineItChanges() {
        const QString ini = path("Setup.ini");
        const QByteArray before = "; written by hand\r\n"
                                  "\r\n"
                                  "[colors]\r\n"
                                  "EINGABE = 255\r\n"
                                  "  Text=0\r\n"
                                  "eingabe=0x00FF00 (duplicate, never read)\r\n"
                                  "\r\n"
                                  "; comment that leads into the next section\r\n"
                                  "[Standardtabelle]\r\n"
                                  "FileName=/alt.db\r\n";
        writeAll(ini, before);

        WritePrivateProfileString("Colors", "Eingabe", "8454143", ini);
        QByteArray expected = before;
        expected.replace("EINGABE = 255\r\n", "EINGABE=8454143\r\n");
        QCOMPARE(readAll(ini), expected);

        // A new key goes after the last entry of its section, with the file's line end.
        WritePrivateProfileString("COLORS", "Fenster", "12632256", ini);
        expected.replace("(duplicate, never read)\r\n",
                         "(duplicate, never read)\r\nFenster=12632256\r\n");
        QCOMPARE(readAll(ini), expected);

        // A new section is appended after a blank line.
        WritePrivateProfileString("Absender", "0", "Erika Mustermann", ini);
        expected += "\r\n[Absender]\r\n0=Erika Mustermann\r\n";
        QCOMPARE(readAll(ini), expected);

        // Line breaks would split the entry: the value ends at the first one.
        WritePrivateProfileString("Absender", "1", "Zeile\r\nX=injected", ini);
        QCOMPARE(GetPrivateProfileString("Absender", "1", "", ini), QString("Zeile"));
        QCOMPARE(GetPrivateProfileString("Absender", "X", "none", ini), QString("none"));

        // No directory entries left behind by the atomic replace.
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Setup.ini"});
    }

    void newFilesAndFilesWithoutFinalLineEnd() {
        const QString fresh = path("new.ini");
        WritePrivateProfileString("Standardtabelle", "FileName", "/a b/ä.db", fresh);
        QCOMPARE(readAll(fresh), QByteArray("[Standardtabelle]\nFileName=/a b/\xC3\xA4.db\n"));

        const QString ini = path("tail.ini");
        writeAll(ini, "[A]\nx=1");
        WritePrivateProfileString("A", "x", "2", ini);
        QCOMPARE(readAll(ini), QByteArray("[A]\nx=2"));
        WritePrivateProfileString("A", "y", "3", ini);
        QCOMPARE(readAll(ini), QByteArray("[A]\nx=2\ny=3\n"));
    }

    void keepsWindows1252AndUtf8() {
        // Windows-1252: "Müller", "Straße", "€" are single bytes.
        const QString ansi = path("ABSENDER.INI");
        const QByteArray before = "[Absender]\r\n0=Hans M\xFCller\r\n1=Stra\xDF"
                                  "e 5\r\n2=\x80 100\r\n";
        writeAll(ansi, before);
        QCOMPARE(GetPrivateProfileString("Absender", "0", "", ansi), QString("Hans Müller"));
        QCOMPARE(GetPrivateProfileString("Absender", "2", "", ansi), QString("€ 100"));
        WritePrivateProfileString("Absender", "3", "Köln", ansi);
        QCOMPARE(readAll(ansi), before + "3=K\xF6ln\r\n");
        // A character Windows-1252 cannot hold is refused, the file stays as it was.
        QVERIFY(!profileErrorOf([&] {
                     WritePrivateProfileString("Absender", "4", "東京", ansi);
                 }).isEmpty());
        QCOMPARE(readAll(ansi), before + "3=K\xF6ln\r\n");

        // UTF-8 with a byte order mark keeps both.
        const QString utf8 = path("utf8.ini");
        writeAll(utf8, "\xEF\xBB\xBF[Absender]\n0=M\xC3\xBCller\n");
        QCOMPARE(GetPrivateProfileString("absender", "0", "", utf8), QString("Müller"));
        WritePrivateProfileString("Absender", "1", "東京", utf8);
        QCOMPARE(
            readAll(utf8),
            QByteArray("\xEF\xBB\xBF[Absender]\n0=M\xC3\xBCller\n1=\xE6\x9D\xB1\xE4\xBA\xAC\n"));
    }

    void longValuesAreCutOnReadButKeptInTheFile() {
        const QString ini = path("long.ini");
        const QByteArray longValue(2000, 'a');
        writeAll(ini, "[S]\nLong=" + longValue + "\nShort=1\n");
        QCOMPARE(GetPrivateProfileString("S", "Long", "", ini).size(), kMaxProfileValueLength);
        WritePrivateProfileString("S", "Short", "2", ini);
        QCOMPARE(readAll(ini), "[S]\nLong=" + longValue + "\nShort=2\n");
        // Writing a long value stores it whole.
        WritePrivateProfileString("S", "Written", QString(1500, u'b'), ini);
        QVERIFY(readAll(ini).contains("Written=" + QByteArray(1500, 'b') + "\n"));
    }

    void numbers_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("decimal") << "8454143" << 8454143;
        QTest::newRow("blanks around") << "  42  " << 42;
        QTest::newRow("signs") << "-12" << -12;
        QTest::newRow("plus") << "+7" << 7;
        QTest::newRow("hex") << "0x85FAFA" << 8780538;
        QTest::newRow("hex upper X") << "0XfF" << 255;
        QTest::newRow("hex leading zeros") << "0x0000000000FF" << 255;
        QTest::newRow("hex all bits") << "0xFFFFFFFF" << -1;
        QTest::newRow("hex too long") << "0x100000000" << -99;
        QTest::newRow("just 0x") << "0x" << -99;
        QTest::newRow("hex junk") << "0x12G" << -99;
        QTest::newRow("0 is decimal") << "0" << 0;
        QTest::newRow("trailing junk") << "12abc" << -99;
        QTest::newRow("junk") << "gelb" << -99;
        QTest::newRow("empty") << "" << -99;
        QTest::newRow("lone sign") << "-" << -99;
        QTest::newRow("too big") << "2147483648" << -99;
        QTest::newRow("smallest") << "-2147483648" << std::numeric_limits<int>::min();
        QTest::newRow("dollar hex is not ours") << "$FF" << -99;
        QTest::newRow("arabic digits") << "١٢" << -99;
    }
    void numbers() {
        QFETCH(QString, stored);
        QFETCH(int, expected);
        const QString ini = path("n.ini");
        WritePrivateProfileString("Colors", "Eingabe", stored, ini);
        QCOMPARE(ReadSettingNumber(ini, "Colors", "Eingabe", -99), expected);
    }

    void numbersAreWrittenInDecimal() {
        const QString ini = path("Setup.ini");
        QCOMPARE(ReadSettingNumber(ini, "Colors", "Fenster", 12632256), 12632256);
        QVERIFY(WriteSettingNumber(ini, "Colors", "Fenster", 0x85FAFA));
        QVERIFY(WriteSettingNumber(ini, "Colors", "Text", -1));
        QCOMPARE(readAll(ini), QByteArray("[Colors]\nFenster=8780538\nText=-1\n"));
        QCOMPARE(ReadSettingNumber(ini, "colors", "text", 0), -1);
        QCOMPARE(ReadSettingText(ini, "Colors", "Fenster", "x"), QString("8780538"));
    }

    void eraseSectionAndKey() {
        const QString ini = path("Setup.ini");
        writeAll(ini, "[Standardtabelle]\r\nFileName=/a.db\r\n\r\n"
                      "[Colors]\r\nText=0\r\n\r\n"
                      "[standardtabelle]\r\nFileName=/b.db\r\n; note for Absender\r\n"
                      "[Absender]\r\n0=x\r\n");
        ErasePrivateProfileSection("STANDARDTABELLE", ini);
        QCOMPARE(readAll(ini), QByteArray("[Colors]\r\nText=0\r\n\r\n"
                                          "; note for Absender\r\n[Absender]\r\n0=x\r\n"));
        QCOMPARE(ReadSettingText(ini, "Standardtabelle", "FileName", "Error"), QString("Error"));

        DeletePrivateProfileKey("colors", "TEXT", ini);
        QCOMPARE(ReadSettingNumber(ini, "Colors", "Text", 5), 5);

        // Erasing what is not there writes nothing, and creates no file.
        ErasePrivateProfileSection("Standardtabelle", path("none.ini"));
        QVERIFY(!QFile::exists(path("none.ini")));
    }

    void refusedWrites() {
        const QString ini = path("Setup.ini");
        const QString expectedText =
            "Kann nicht nach " + QDir::toNativeSeparators(ini) + " schreiben";
        writeAll(ini, "[Colors]\nText=0\n");

        // A read-only file, refused even for the administrator.
        QCOMPARE(::chmod(QFile::encodeName(ini).constData(), 0444), 0);
        QCOMPARE(profileErrorOf([&] { WritePrivateProfileString("Colors", "Text", "1", ini); }),
                 expectedText);
        QCOMPARE(profileErrorOf([&] { ErasePrivateProfileSection("Colors", ini); }), expectedText);
        QVERIFY(!WriteSettingNumber(ini, "Colors", "Text", 1));
        QCOMPARE(readAll(ini), QByteArray("[Colors]\nText=0\n"));
        QCOMPARE(::chmod(QFile::encodeName(ini).constData(), 0644), 0);

        // A read-only directory: neither a new file nor a change of an existing one.
        QVERIFY(QDir().mkpath(path("ro")));
        const QString inside = path("ro/Setup.ini");
        writeAll(inside, "[Colors]\nText=0\n");
        QCOMPARE(::chmod(QFile::encodeName(path("ro")).constData(), 0555), 0);
        QVERIFY(!profileErrorOf([&] {
                     WritePrivateProfileString("Colors", "Text", "1", inside);
                 }).isEmpty());
        QVERIFY(!WriteSettingNumber(path("ro/new.ini"), "Colors", "Text", 1));
        QVERIFY(!QFile::exists(path("ro/new.ini")));
        QCOMPARE(readAll(inside), QByteArray("[Colors]\nText=0\n"));
        QVERIFY(!isWritableDirectory(path("ro")));

        // A directory the system itself refuses, whoever we are: its "parent" is a file.
        QCOMPARE(profileErrorOf([&] { WritePrivateProfileString("A", "b", "c", ini + "/x.ini"); }),
                 "Kann nicht nach " + ini + "/x.ini schreiben");
        // Names that cannot stand in an INI file.
        QVERIFY(!profileErrorOf([&] { WritePrivateProfileString("A]", "b", "c", ini); }).isEmpty());
        QVERIFY(
            !profileErrorOf([&] { WritePrivateProfileString("A", "b=c", "d", ini); }).isEmpty());
        QVERIFY(!profileErrorOf([&] { WritePrivateProfileString("A", "", "d", ini); }).isEmpty());
        QCOMPARE(readAll(ini), QByteArray("[Colors]\nText=0\n"));
    }

    void keepsPermissionsAndLinks() {
        const QString real = path("real.ini");
        writeAll(real, "[A]\nx=1\n");
        QCOMPARE(::chmod(QFile::encodeName(real).constData(), 0600), 0);
        QVERIFY(QFile::link(real, path("link.ini")));
        WritePrivateProfileString("A", "x", "2", path("link.ini"));
        QVERIFY(QFileInfo(path("link.ini")).isSymLink());
        QCOMPARE(readAll(real), QByteArray("[A]\nx=2\n"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(real).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
    }

    // Random hand-made files: whatever is changed, every other entry reads as
    // before and the lines outside the change stay, in order.
    void randomFilesKeepWhatIsNotTouched() {
        QRandomGenerator rng(20240615);
        const QStringList sections{"A", "b", "Colors", "Standardtabelle"};
        const QStringList keys{"x", "Y", "FileName", "Text"};
        auto oddCase = [&](QString name) {
            for (QChar& c : name)
                if (rng.bounded(2))
                    c = c.isUpper() ? c.toLower() : c.toUpper();
            return name;
        };
        const QString ini = path("random.ini");
        for (int round = 0; round < 400; ++round) {
            const QByteArray nl = rng.bounded(2) ? "\r\n" : "\n";
            QByteArray content = rng.bounded(5) == 0 ? "\xEF\xBB\xBF" : "";
            const int count = rng.bounded(14);
            for (int i = 0; i < count; ++i) {
                const QByteArray key = oddCase(keys[rng.bounded(keys.size())]).toUtf8();
                const QByteArray value =
                    "v" + QByteArray::number(round) + "_" + QByteArray::number(i);
                switch (rng.bounded(7)) {
                case 0:
                case 1:
                    content += "[" + oddCase(sections[rng.bounded(sections.size())]).toUtf8() + "]";
                    break;
                case 2:
                    content += key + "=" + value;
                    break;
                case 3:
                    content += "  " + key + " = " + value + " ";
                    break;
                case 4:
                    content += "; comment " + value;
                    break;
                case 5:
                    break; // blank line
                default:
                    content += "M\xFCll " + value; // no "=", and not UTF-8
                }
                if (i + 1 < count || rng.bounded(2))
                    content += nl;
            }
            writeAll(ini, content);

            auto snapshot = [&] {
                QStringList values;
                for (const QString& section : sections)
                    for (const QString& key : keys)
                        values << GetPrivateProfileString(section, key, "<none>", ini);
                return values;
            };
            const QStringList before = snapshot();
            const int si = rng.bounded(static_cast<int>(sections.size()));
            const int ki = rng.bounded(static_cast<int>(keys.size()));
            const QString section = oddCase(sections[si]);
            const QString key = oddCase(keys[ki]);
            const int op = rng.bounded(3);
            const QString written = "neu" + QString::number(round);
            if (op == 0)
                WritePrivateProfileString(section, key, written, ini);
            else if (op == 1)
                ErasePrivateProfileSection(section, ini);
            else
                DeletePrivateProfileKey(section, key, ini);
            const QStringList after = snapshot();
            const QByteArray result = readAll(ini);
            const QByteArray where = "round " + QByteArray::number(round) + ", op " +
                                     QByteArray::number(op) + ", file:\n" + content;

            for (int i = 0; i < sections.size(); ++i) {
                for (int j = 0; j < keys.size(); ++j) {
                    const qsizetype at = i * keys.size() + j;
                    if (i == si && (op == 1 || j == ki))
                        continue;
                    QVERIFY2(after[at] == before[at], where.constData());
                }
            }
            if (op == 0) {
                QVERIFY2(after[si * keys.size() + ki] == written, where.constData());
                QVERIFY2(missingInOrder(linesOf(content), linesOf(result)) <= 1, where.constData());
            } else if (op == 1) {
                for (int j = 0; j < keys.size(); ++j)
                    QVERIFY2(after[si * keys.size() + j] == "<none>", where.constData());
                // Every line outside the erased sections is still there, in order.
                QList<QByteArray> outside;
                bool inErased = false;
                for (const QByteArray& line : linesOf(content)) {
                    const QByteArray t = line.trimmed();
                    if (t.startsWith('['))
                        inErased = t.mid(1, t.indexOf(']') - 1).trimmed().toLower() ==
                                   sections[si].toLower().toUtf8();
                    if (!inErased)
                        outside << line;
                }
                QVERIFY2(missingInOrder(outside, linesOf(result)) == 0, where.constData());
            } else {
                QVERIFY2(missingInOrder(linesOf(content), linesOf(result)) <= 1, where.constData());
            }
            // The encoding the file was read in is the one it is written in.
            QVERIFY2(result.contains("M\xFCll") == content.contains("M\xFCll") || op == 1,
                     where.constData());
        }
    }

    void setupIniLocation() {
        const QString program = path("prog");
        const QString config = path("config");
        QVERIFY(QDir().mkpath(program));
        setProgramDirectory(program);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));

        QCOMPARE(setupIniPath(), program + "/Setup.ini");

        // Installed where we cannot write: the user's configuration directory, created for us.
        QCOMPARE(::chmod(QFile::encodeName(program).constData(), 0555), 0);
        QCOMPARE(setupIniPath(), config + "/Vellumo/Setup.ini");
        QVERIFY(QFileInfo(config + "/Vellumo").isDir());

        // Decided once: later changes of the directory do not move it.
        decideSettingsLocation();
        QCOMPARE(::chmod(QFile::encodeName(program).constData(), 0755), 0);
        QCOMPARE(setupIniPath(), config + "/Vellumo/Setup.ini");
        resetSettingsLocation();
        QCOMPARE(setupIniPath(), program + "/Setup.ini");
        qunsetenv("XDG_CONFIG_HOME");
    }
};

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"
