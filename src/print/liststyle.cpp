#include "print/liststyle.h"

#include "address/addressschema.h"

using namespace vellumo::report;

namespace vellumo::print {

ListStyle::ListStyle(RowSource* rows) {
    const QFont text = reportFont(QStringLiteral("Arial"), 11);

    QuickReport.ReportTitle = QStringLiteral("Vellumo (Liste)");
    QuickReport.PaperSize = qrpDefault;
    QuickReport.DataSource = rows;
    QuickReport.TitleBeforeHeader = true;
    QuickReport.RestartData = true;

    QRBand1 = QuickReport.addBand(QStringLiteral("QRBand1"), rbTitle, 41);
    QRLabel1 = QRBand1->add<TQRLabel>(QStringLiteral("QRLabel1"));
    QRLabel1->setBounds(0, 8, 793, 19);
    QRLabel1->Caption = QStringLiteral("Überschrift");
    QRLabel1->Alignment = taCenter;
    QRLabel1->Font = reportFont(QStringLiteral("Arial"), 16, true, true);

    QRBand2 = QuickReport.addBand(QStringLiteral("QRBand2"), rbPageHeader, 41);
    struct Column {
        const char* label;
        const char* caption;
        int left;
        int width;
    };
    for (const Column& c :
         {Column{"QRLabelName", "Name", 30, 27}, Column{"QRLabelVorname", "Vorname", 184, 44},
          Column{"QRLabelStr", "Strasse", 306, 38}, Column{"QRLabelPLZ", "PLZ", 477, 19},
          Column{"QRLabelOrt", "Ort", 535, 15}, Column{"QRLabel3", "Telefon", 670, 36}}) {
        auto* label = QRBand2->add<TQRLabel>(QString::fromUtf8(c.label));
        label->setBounds(c.left, 19, c.width, 14);
        label->Caption = QString::fromUtf8(c.caption);
        label->Font = text;
    }
    auto* rule = QRBand2->add<TQRShape>(QStringLiteral("QRShape1"));
    rule->setBounds(30, 36, 763, 4);
    rule->Shape = qrsHorLine;
    struct Rule {
        const char* name;
        int left;
    };
    for (const Rule& r : {Rule{"QRShape2", 180}, Rule{"QRShape4", 302}, Rule{"QRShape5", 472},
                          Rule{"QRShape6", 530}, Rule{"QRShape7", 666}}) {
        auto* shape = QRBand2->add<TQRShape>(QString::fromUtf8(r.name));
        shape->setBounds(r.left, 16, 4, 25);
        shape->Shape = qrsVertLine;
    }

    QRBand3 = QuickReport.addBand(QStringLiteral("QRBand3"), rbDetail, 25);
    struct Field {
        const char* name;
        std::string_view field;
        int left;
        int width;
    };
    using vellumo::address::fieldName;
    for (const Field& f : {Field{"QRDBText1", fieldName("Name"), 30, 150},
                           Field{"QRDBText2", fieldName("Vorname"), 184, 104},
                           Field{"QRDBText3", fieldName("Strasse"), 306, 160},
                           Field{"QRDBText4", fieldName("PLZ"), 477, 50},
                           Field{"QRDBText5", fieldName("Ort"), 535, 126},
                           Field{"QRDBText6", fieldName("Telefon1"), 670, 123}}) {
        auto* value = QRBand3->add<TQRDBText>(QString::fromUtf8(f.name));
        value->setBounds(f.left, 3, f.width, 17);
        value->DataField =
            QString::fromUtf8(f.field.data(), static_cast<qsizetype>(f.field.size()));
        value->Font = text;
    }
    for (const Rule& r : {Rule{"QRShape3", 180}, Rule{"QRShape8", 302}, Rule{"QRShape9", 472},
                          Rule{"QRShape10", 530}, Rule{"QRShape11", 666}}) {
        auto* shape = QRBand3->add<TQRShape>(QString::fromUtf8(r.name));
        shape->setBounds(r.left, 0, 4, 25);
        shape->Shape = qrsVertLine;
    }
    Punktlinie = QRBand3->add<TQRShape>(QStringLiteral("Punktlinie"));
    Punktlinie->setBounds(40, 21, 753, 4);
    Punktlinie->Shape = qrsHorLine;
    Punktlinie->PenStyle = psDot;
    Punktlinie->Enabled = false;
}

QList<StyleOption> ListStyle::options() const {
    return {{QStringLiteral("Ueberschrift"),
             QStringLiteral("Überschrift"),
             QRLabel1->Caption,
             {},
             QStringLiteral("--heading"),
             QStringLiteral("TEXT")},
            {QStringLiteral("Gitternetzlinien"),
             QStringLiteral("Gitternetzlinien drucken"),
             Punktlinie->Enabled,
             {},
             QStringLiteral("--lines")}};
}

void ListStyle::setOption(const QString& key, const QVariant& value) {
    if (key == u"Ueberschrift")
        QRLabel1->Caption = value.toString();
    else if (key == u"Gitternetzlinien")
        Punktlinie->Enabled = value.toBool();
    else
        unknownOption(name(), key);
}

} // namespace vellumo::print
