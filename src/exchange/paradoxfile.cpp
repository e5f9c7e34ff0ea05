// Paradox tables of any schema and level (3 to 7) as a source of addresses:
// read through the engine, their fields mapped by name as the columns of a
// CSV file are (ColumnMapping), so another program's "NACHNAME", "STRASSE_NR"
// or "TEL_PRIVAT" land in the address table's fields without a question. The
// first graphic field becomes the picture.
#include "exchange/columns.h"
#include "exchange/input.h"

#include "platform/database/enginedate.h"
#include "platform/database/recordstore.h"
#include "platform/paradox/error.h"
#include "platform/paradox/table.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>

namespace vellumo::exchange {

namespace {

bool isText(px::FieldType type) {
    return type == px::FieldType::Alpha || type == px::FieldType::Memo;
}

bool isPicture(px::FieldType type) {
    return type == px::FieldType::Graphic;
}

bool isBinary(px::FieldType type) {
    return type == px::FieldType::Blob || type == px::FieldType::FmtMemo ||
           type == px::FieldType::OLE || type == px::FieldType::Bytes;
}

QString cellOf(const px::Value& value) {
    struct Visitor {
        QString operator()(std::monostate) const { return {}; }
        QString operator()(const std::string& s) const { return QString::fromStdString(s); }
        QString operator()(std::int64_t v) const { return QString::number(v); }
        QString operator()(double v) const { return QString::number(v, 'g', 15); }
        QString operator()(bool v) const {
            return v ? QStringLiteral("ja") : QStringLiteral("nein");
        }
        QString operator()(px::Date d) const {
            const QDate date = fromEngineDate(d);
            return date.isValid() ? date.toString(QStringLiteral("dd.MM.yyyy")) : QString();
        }
        QString operator()(px::TimeOfDay t) const {
            return QTime::fromMSecsSinceStartOfDay(t.ms).toString(QStringLiteral("HH:mm:ss"));
        }
        QString operator()(px::Timestamp t) const {
            const std::optional<px::DayAndTime> split = px::splitTimestamp(t);
            if (!split)
                return {};
            const QDate date = fromEngineDate(px::Date{split->day});
            return date.isValid() ? date.toString(QStringLiteral("dd.MM.yyyy")) + u' ' +
                                        QTime::fromMSecsSinceStartOfDay(split->ms).toString(
                                            QStringLiteral("HH:mm"))
                                  : QString();
        }
        QString operator()(const px::Decimal& d) const { return QString::fromStdString(d.text); }
        QString operator()(const px::Bytes&) const { return {}; }
        QString operator()(const px::BlobRef&) const { return {}; }
    };
    return std::visit(Visitor{}, value);
}

class ParadoxStream : public AddressStream {
public:
    ParadoxStream(QIODevice& in, const QString& name, const ColumnChoices& choices) : in_(in) {
        const QString shown = QDir::toNativeSeparators(QFileInfo(name).fileName());
        if (name.isEmpty())
            throw StoreError(QStringLiteral("Eine Paradox-Tabelle wird nur als Datei gelesen"));
        try {
            table_ = px::Table::open(QFile::encodeName(name).toStdString(), px::Access::Read);
        } catch (const px::Error& e) {
            throw StoreError(QStringLiteral("Die Paradox-Tabelle %1 kann nicht gelesen werden: %2")
                                 .arg(shown, QString::fromStdString(e.what())));
        }
        const px::TableInfo& info = table_->info();
        QStringList names;
        for (std::size_t i = 0; i < info.fields.size(); ++i) {
            const px::FieldDef& f = info.fields[i];
            const QString fieldName = QString::fromStdString(f.name);
            if (isPicture(f.type) && picture_ < 0) {
                picture_ = static_cast<int>(i);
                names << QString();
                columns_ << QStringLiteral("\"%1\" → Grafik").arg(fieldName);
            } else if (isPicture(f.type) || isBinary(f.type)) {
                names << QString();
                columns_ << QStringLiteral("\"%1\" → nicht übernommen (Binärdaten)").arg(fieldName);
            } else {
                names << fieldName;
            }
        }
        names_ = names;
        mapping_.emplace(names, choices);
        columns_ = mapping_->report() + columns_;
        remarks_ << QStringLiteral("Paradox-Tabelle der Stufe %1, Codepage %2, %3 Sätze.")
                        .arg(QString::fromStdString(info.levelName))
                        .arg(info.codePage)
                        .arg(table_->recordCount());
        count_ = table_->recordCount();
    }

    std::optional<Address> next() override {
        if (position_ >= count_)
            return std::nullopt;
        const std::uint32_t at = position_++;
        px::Record record;
        try {
            record = table_->read(at, px::Blobs::Refer);
        } catch (const px::Error& e) {
            throw StoreError(QStringLiteral("Satz %1 der Paradox-Tabelle kann nicht gelesen "
                                            "werden: %2")
                                 .arg(at + 1)
                                 .arg(QString::fromStdString(e.what())));
        }
        QStringList cells;
        const auto& fields = table_->info().fields;
        for (std::size_t i = 0; i < record.size() && i < fields.size(); ++i)
            cells << (isText(fields[i].type) ||
                              (!isPicture(fields[i].type) && !isBinary(fields[i].type))
                          ? cellOf(record[i])
                          : QString());
        Address address = mapping_->address(cells, static_cast<int>(at + 1));
        if (picture_ >= 0 &&
            !std::holds_alternative<std::monostate>(record[static_cast<std::size_t>(picture_)])) {
            try {
                const px::Value bytes = table_->readField(at, picture_, px::Blobs::Read);
                if (const auto* b = std::get_if<px::Bytes>(&bytes))
                    address.photo = QByteArray(reinterpret_cast<const char*>(b->data()),
                                               static_cast<qsizetype>(b->size()));
            } catch (const px::Error& e) {
                address.changes << QStringLiteral("Das Bild kann nicht gelesen werden und wurde "
                                                  "weggelassen (%1)")
                                       .arg(QString::fromStdString(e.what()));
            }
        }
        return address;
    }

    QStringList columns() const override { return columns_; }
    QStringList columnNames() const override { return names_; }
    QStringList columnTargets() const override { return mapping_->targets(); }
    QStringList remarks() const override { return remarks_; }
    qint64 position() const override {
        return count_ == 0 ? in_.size() : in_.size() * position_ / count_;
    }

private:
    QIODevice& in_;
    std::unique_ptr<px::Table> table_;
    std::optional<ColumnMapping> mapping_;
    QStringList names_;
    int picture_ = -1;
    std::uint32_t position_ = 0;
    std::uint32_t count_ = 0;
    QStringList columns_;
    QStringList remarks_;
};

} // namespace

std::unique_ptr<AddressStream> paradoxStream(QIODevice& in, const QString& name,
                                             const ColumnChoices& choices) {
    return std::make_unique<ParadoxStream>(in, name, choices);
}

} // namespace vellumo::exchange
