// print of vellumo-table: the address list as PDF, laid out by the same print
// style as in the program, headless (Qt Gui on the offscreen platform).
//
//   vellumo-table print --list [--heading TEXT] [--lines] TABLE FILE.pdf
//   vellumo-table print --labels PART [--start N] [--household] TABLE FILE.pdf
#include "printcommand.h"

#include "format.h"
#include "qtcommand.h"

#include "platform/database/enginedate.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/table.h"
#include "print/labelstyle.h"
#include "print/printstyle.h"

#include <QFile>
#include <QFont>
#include <QGuiApplication>

#include <cstdio>
#include <exception>

namespace vtable {

namespace {

int usage() {
    std::fprintf(
        stderr,
        "Aufruf: vellumo-table print --list [--heading TEXT] [--lines] TABELLE DATEI.pdf\n"
        "        vellumo-table print --labels BOGEN [--start N] [--household] TABELLE DATEI.pdf\n");
    return 2;
}

// The rows of a table opened for reading, in key order, as the program's
// list reads them with no filter on. Never waits for or disturbs a program
// that has the table open.
class TableRows : public vellumo::report::RowSource {
public:
    explicit TableRows(px::Table& table) : table_(table) {}
    int Count() override { return static_cast<int>(table_.recordCount()); }
    void Seek(int row) override { row_ = static_cast<std::uint32_t>(row); }
    QString FieldText(const QString& field) const override {
        const int column = table_.fieldIndex(field.toStdString());
        if (column < 0)
            throw vellumo::report::ReportError(
                QStringLiteral("Feld '%1' nicht gefunden").arg(field));
        const px::Value value = table_.readField(row_, column);
        if (const auto* text = std::get_if<std::string>(&value))
            return QString::fromStdString(*text);
        if (const auto* date = std::get_if<px::Date>(&value))
            return vellumo::formatGermanDate(vellumo::fromEngineDate(*date));
        const auto& fields = table_.info().fields;
        return QString::fromStdString(
            formatValue(fields[static_cast<std::size_t>(column)].type, value));
    }

private:
    px::Table& table_;
    std::uint32_t row_ = 0;
};

} // namespace

int printCommand(int argc, char** argv) {
    bool list = false;
    bool lines = false;
    QString labels; // the sheet, "3474" or "Zweckform 3474"
    int start = 1;
    bool household = false;
    QString heading = QStringLiteral("Überschrift");
    QStringList files;
    for (int i = 2; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"--list")
            list = true;
        else if (arg == u"--lines")
            lines = true;
        else if (arg == u"--heading" && i + 1 < argc)
            heading = QString::fromLocal8Bit(argv[++i]);
        else if (arg == u"--labels" && i + 1 < argc)
            labels = QString::fromLocal8Bit(argv[++i]);
        else if (arg == u"--start" && i + 1 < argc)
            start = QString::fromLocal8Bit(argv[++i]).toInt();
        else if (arg == u"--household")
            household = true;
        else if (arg.startsWith(u"--"))
            return usage();
        else
            files << arg;
    }
    if (list == !labels.isEmpty() || files.size() != 2 || start < 1)
        return usage();

    // No display needed: the offscreen platform has the fonts and the PDF writer.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    // The program's stand-ins for the fonts its layouts name.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    try {
        auto table =
            px::Table::open(QFile::encodeName(tableFile(files[0])).toStdString(), px::Access::Read);
        TableRows rows(*table);
        if (!labels.isEmpty()) {
            vellumo::print::LabelStyle style(&rows);
            style.setOption(QStringLiteral("Format"), labels);
            style.setOption(QStringLiteral("Start"), start);
            style.setOption(QStringLiteral("Haushalt"), household);
            vellumo::report::writePdf(style.report(), style.geometry(), files[1]);
            return 0;
        }
        auto style = vellumo::print::createPrintStyle(QStringLiteral("liste"), &rows);
        style->setOption(QStringLiteral("Ueberschrift"), heading);
        style->setOption(QStringLiteral("Gitternetzlinien"), lines);
        // The list's paper where no printer says otherwise.
        vellumo::report::writePdf(style->report(),
                                  vellumo::report::PageGeometry::fullPage(QPageSize(QPageSize::A4)),
                                  files[1]);
        return 0;
    } catch (const vellumo::report::ReportError& e) {
        err(e.text());
    } catch (const std::exception& e) {
        err(QString::fromUtf8(e.what()));
    }
    return 2;
}

} // namespace vtable
