// print of vellumo-table: any print style the program registers that names a
// command-line flag, laid out as in the program, as PDF, headless (Qt Gui on
// the offscreen platform). The style's flag and its options' flags come from
// the registry, so a new style needs nothing here:
//
//   vellumo-table print --list [--heading TEXT] [--lines] TABLE FILE.pdf
//   vellumo-table print --labels PART [--start N] [--household] TABLE FILE.pdf
#include "printcommand.h"

#include "qtcommand.h"

#include "platform/database/recordstore.h"
#include "print/printstyle.h"
#include "print/storerows.h"

#include <QFont>
#include <QGuiApplication>

#include <cstdio>
#include <exception>
#include <optional>

namespace vtable {

namespace styles = vellumo::print;

namespace {

QString usageText() {
    QString text;
    for (const styles::PrintStyleEntry& entry : styles::printStyles()) {
        if (entry.flag.isEmpty())
            continue;
        const auto style = entry.create(nullptr);
        const QList<styles::StyleOption> options = style->options();
        const auto argumentOf = [](const styles::StyleOption& option) {
            return option.argument.isEmpty() ? option.key.toUpper() : option.argument;
        };
        QString line = QStringLiteral("vellumo-table print ") + entry.flag;
        for (const styles::StyleOption& option : options)
            if (option.key == entry.flagValue)
                line += u' ' + argumentOf(option);
        for (const styles::StyleOption& option : options) {
            if (option.flag.isEmpty())
                continue;
            line += QStringLiteral(" [") + option.flag;
            if (option.value.typeId() != QMetaType::Bool)
                line += u' ' + argumentOf(option);
            line += u']';
        }
        text += (text.isEmpty() ? QStringLiteral("Aufruf: ") : QStringLiteral("        ")) + line +
                QStringLiteral(" TABELLE DATEI.pdf\n");
    }
    return text;
}

int usage() {
    std::fputs(usageText().toLocal8Bit().constData(), stderr);
    return 2;
}

// A value from the command line in the type of the option's current value.
std::optional<QVariant> valueFor(const styles::StyleOption& option, const QString& text) {
    switch (option.value.typeId()) {
    case QMetaType::Int: {
        bool ok = false;
        const int n = text.toInt(&ok);
        if (!ok || n < 1)
            return std::nullopt;
        return n;
    }
    case QMetaType::Double: {
        bool ok = false;
        const double d = text.toDouble(&ok);
        return ok ? std::optional<QVariant>(d) : std::nullopt;
    }
    default:
        return text;
    }
}

} // namespace

int printCommand(int argc, char** argv) {
    // Qt first: the styles' options are Qt values, and the fonts come with it.
    // No display needed: the offscreen platform has the fonts and the PDF writer.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    // The program's stand-ins for the fonts its layouts name.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));

    const styles::PrintStyleEntry* chosen = nullptr;
    QList<QPair<QString, QVariant>> settings;
    QStringList files;
    std::unique_ptr<styles::PrintStyle> probe; // the chosen style's options
    for (int i = 2; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const styles::StyleOption* option = nullptr;
        QList<styles::StyleOption> options =
            probe ? probe->options() : QList<styles::StyleOption>();
        for (const styles::StyleOption& o : options)
            if (o.flag == arg)
                option = &o;
        if (option) {
            if (option->value.typeId() == QMetaType::Bool) {
                settings.append({option->key, true});
                continue;
            }
            if (i + 1 >= argc)
                return usage();
            const auto value = valueFor(*option, QString::fromLocal8Bit(argv[++i]));
            if (!value)
                return usage();
            settings.append({option->key, *value});
            continue;
        }
        if (arg.startsWith(u"--")) {
            if (chosen)
                return usage();
            for (const styles::PrintStyleEntry& entry : styles::printStyles())
                if (!entry.flag.isEmpty() && entry.flag == arg)
                    chosen = &entry;
            if (!chosen)
                return usage();
            probe = chosen->create(nullptr);
            if (!chosen->flagValue.isEmpty()) {
                if (i + 1 >= argc)
                    return usage();
                settings.append({chosen->flagValue, QString::fromLocal8Bit(argv[++i])});
            }
            continue;
        }
        files << arg;
    }
    if (!chosen || files.size() != 2)
        return usage();

    try {
        // Read-only: never waits for or disturbs a program that has the table
        // open, and rows are read in key order with no filter on.
        vellumo::RecordStore store;
        store.BindTable(tableFile(files[0]));
        store.OpenTableReadOnly();
        styles::StoreRows rows(store);
        const auto style = chosen->create(&rows);
        for (const auto& [key, value] : settings)
            style->setOption(key, value);
        vellumo::report::writePdf(style->report(), style->geometry(), files[1]);
        return 0;
    } catch (const vellumo::report::ReportError& e) {
        err(e.text());
    } catch (const std::exception& e) {
        err(QString::fromUtf8(e.what()));
    }
    return 2;
}

} // namespace vtable
