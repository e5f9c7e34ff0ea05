// The text forms vellumo-table prints for each field kind.
#include "format.h"

#include <gtest/gtest.h>

using namespace vtable;

TEST(TableFormat, DatesAcrossTheCalendar) {
    EXPECT_EQ(formatDate(1), "0001-01-01");
    EXPECT_EQ(formatDate(36160), "0100-01-01");
    EXPECT_EQ(formatDate(728783), "1996-05-04");
    EXPECT_EQ(formatDate(719163), "1970-01-01");
    EXPECT_EQ(formatDate(730179), "2000-02-29"); // leap day of a century leap year
    EXPECT_EQ(formatDate(730180), "2000-03-01");
    EXPECT_EQ(formatDate(693654), "1900-02-28"); // 1900 has no 29 February
    EXPECT_EQ(formatDate(693655), "1900-03-01");
    EXPECT_EQ(formatDate(738885), "2023-12-31");
}

TEST(TableFormat, TimesShowMillisecondsOnlyWhenThereAreAny) {
    EXPECT_EQ(formatTime(0), "00:00:00");
    EXPECT_EQ(formatTime(((13 * 60 + 5) * 60 + 9) * 1000), "13:05:09");
    EXPECT_EQ(formatTime(((23 * 60 + 59) * 60 + 59) * 1000 + 7), "23:59:59.007");
    EXPECT_EQ(formatTime(1500), "00:00:01.500");
}

TEST(TableFormat, TimestampsSplitIntoDateAndTimeOfDay) {
    const double day = 728783.0 * 86'400'000.0;
    EXPECT_EQ(formatTimestamp(day), "1996-05-04 00:00:00");
    EXPECT_EQ(formatTimestamp(day + ((17 * 60 + 30) * 60 + 1) * 1000.0 + 999),
              "1996-05-04 17:30:01");
    EXPECT_EQ(formatTimestamp(day + 86'399'999.0), "1996-05-04 23:59:59");
    // A damaged value never turns into a made-up date.
    EXPECT_EQ(formatTimestamp(1e300).find('-'), std::string::npos);
}

TEST(TableFormat, NumbersArePlainDecimalsThatReadBack) {
    EXPECT_EQ(formatNumber(0.0), "0");
    EXPECT_EQ(formatNumber(-0.0), "0");
    EXPECT_EQ(formatNumber(1.5), "1.5");
    EXPECT_EQ(formatNumber(-1234.56), "-1234.56");
    EXPECT_EQ(formatNumber(0.1), "0.1");
    EXPECT_EQ(formatNumber(1e20), "100000000000000000000");
    EXPECT_EQ(formatNumber(1e-7), "0.0000001");
    EXPECT_EQ(formatNumber(7.0), "7");
}

TEST(TableFormat, EveryValueKind) {
    using px::FieldType;
    EXPECT_EQ(formatValue(FieldType::Alpha, std::monostate{}), "");
    EXPECT_EQ(formatValue(FieldType::Date, std::monostate{}), "");
    EXPECT_EQ(formatValue(FieldType::Alpha, std::string("Müller")), "Müller");
    EXPECT_EQ(formatValue(FieldType::Short, std::int64_t{-7}), "-7");
    EXPECT_EQ(formatValue(FieldType::AutoInc, std::int64_t{2147483647}), "2147483647");
    EXPECT_EQ(formatValue(FieldType::Money, 19.99), "19.99");
    EXPECT_EQ(formatValue(FieldType::Logical, true), "true");
    EXPECT_EQ(formatValue(FieldType::Logical, false), "false");
    EXPECT_EQ(formatValue(FieldType::Date, px::Date{728783}), "1996-05-04");
    EXPECT_EQ(formatValue(FieldType::Time, px::TimeOfDay{3'600'000}), "01:00:00");
    EXPECT_EQ(formatValue(FieldType::BCD, px::Decimal{"-1.23"}), "-1.23");
    EXPECT_EQ(formatValue(FieldType::Bytes, px::Bytes{0x00, 0x7f, 0xff, 0x10}), "007fff10");
    const std::string memo(5000, 'x');
    EXPECT_EQ(formatValue(FieldType::Memo, memo), memo);
    // Blobs other than memos: the size of their data.
    EXPECT_EQ(formatValue(FieldType::Graphic, px::Bytes(3000, 1)), "3000");
    EXPECT_EQ(formatValue(FieldType::Blob, px::Bytes{}), "0");
    EXPECT_EQ(formatValue(FieldType::FmtMemo, px::Bytes(17, 0)), "17");
    EXPECT_EQ(formatValue(FieldType::OLE, px::Bytes(5, 0)), "5");
}

TEST(TableFormat, CsvQuotesOnlyWhereNeeded) {
    EXPECT_EQ(csvCell("plain text"), "plain text");
    EXPECT_EQ(csvCell(""), "");
    EXPECT_EQ(csvCell("a,b"), "\"a,b\"");
    EXPECT_EQ(csvCell("sagt \"ja\""), "\"sagt \"\"ja\"\"\"");
    EXPECT_EQ(csvCell("Zeile 1\r\nZeile 2"), "\"Zeile 1\r\nZeile 2\"");
    EXPECT_EQ(csvLine({"Name", "", "x,y", "Ö"}), "Name,,\"x,y\",Ö");
    EXPECT_EQ(csvLine({}), "");
}
