#include "listing/listing_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/test_support.h"

namespace sfx {
namespace {

using test::listing_line;
using test::listing_of;

// Every record of `listing`, one per line as "path len loc@line" (loc in hex), an
// incomplete one as "path !column@line", ending with "end" or "read error".
std::string walk(const std::string& listing) {
  test::TempFolder folder;
  test::write_file(folder.file("listing"), listing);
  ListingReader reader;
  EXPECT_TRUE(reader.open(folder.file("listing")));
  std::string walked;
  ListingRecord record;
  for (int guard = 0; guard < 100000; ++guard) {
    const RecordStatus status = reader.next_record(record);
    if (status == RecordStatus::end) return walked + "end";
    if (status == RecordStatus::read_error) return walked + "read error";
    char numbers[64];
    if (status == RecordStatus::complete) {
      std::snprintf(numbers, sizeof numbers, " %d %x@%u", record.len, record.loc,
                    static_cast<unsigned>(reader.record_line()));
    } else if (status == RecordStatus::incomplete) {
      std::snprintf(numbers, sizeof numbers, " !%d@%u", reader.failed_column(),
                    static_cast<unsigned>(reader.record_line()));
    } else if (status == RecordStatus::truncated) {
      std::snprintf(numbers, sizeof numbers, " !end@%u", static_cast<unsigned>(reader.record_line()));
    } else {
      std::snprintf(numbers, sizeof numbers, " too long (%zu)@%u", record.path.size(),
                    static_cast<unsigned>(reader.record_line()));
    }
    walked += record.path + numbers + "\n";
  }
  return walked + "no end";
}

struct WalkCase {
  const char* name;
  std::string listing;
  std::string expected;
};

void PrintTo(const WalkCase& walk_case, std::ostream* os) { *os << walk_case.name; }

class ListingWalk : public testing::TestWithParam<WalkCase> {};

TEST_P(ListingWalk, YieldsExpectedRecords) {
  EXPECT_EQ(walk(GetParam().listing), GetParam().expected);
}

const std::string kRecordA = listing_line("d\\a.sfx", "10", "1f");
const std::string kRecordB = listing_line("d\\b.wav", "20", "2e");

INSTANTIATE_TEST_SUITE_P(
    TextRules, ListingWalk,
    testing::Values(
        WalkCase{"Empty", "", "end"},
        WalkCase{"HeaderOnly", "header\n", "end"},
        WalkCase{"HeaderWithoutLineBreak", "header", "end"},
        WalkCase{"TwoRecordsLF", listing_of(kRecordA + "\n" + kRecordB + "\n"),
                 "d\\a.sfx 10 1f@2\nd\\b.wav 20 2e@3\nend"},
        WalkCase{"TwoRecordsCRLF", "h\r\n" + kRecordA + "\r\n" + kRecordB + "\r\n",
                 "d\\a.sfx 10 1f@2\nd\\b.wav 20 2e@3\nend"},
        // A lone CR separates columns, but the line skip runs on to the next LF.
        WalkCase{"LoneCRLosesRecords",
                 "h\n" + kRecordA + "\r" + kRecordB + "\r" + kRecordA + "\n" + kRecordB + "\n",
                 "d\\a.sfx 10 1f@2\nd\\b.wav 20 2e@3\nend"},
        WalkCase{"LoneCRInPathIsSeparator", "h\nx\ry.sfx 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n",
                 "x 2 14@2\nend"},
        WalkCase{"CtrlZEndsListing", listing_of(kRecordA + "\n\x1a" + kRecordB + "\n"),
                 "d\\a.sfx 10 1f@2\nend"},
        WalkCase{"CtrlZInsideRecord", listing_of(kRecordA.substr(0, 20) + "\x1a" + "5 6\n"),
                 "d\\a.sfx !end@2\nend"},
        WalkCase{"LastRecordWithoutLineBreak", listing_of(kRecordA), "d\\a.sfx 10 1f@2\nend"},
        WalkCase{"BlankLinesAround", listing_of("\n\n" + kRecordA + "\n\n \t\n" + kRecordB + "\n\n\n"),
                 "d\\a.sfx 10 1f@4\nd\\b.wav 20 2e@7\nend"},
        WalkCase{"ExtraColumnsDiscarded", listing_of(kRecordA + " 17 18 x.sfx\n" + kRecordB + "\n"),
                 "d\\a.sfx 10 1f@2\nd\\b.wav 20 2e@3\nend"},
        WalkCase{"RecordOverTwoLines",
                 listing_of("d\\a.sfx 1 2 10 5 6 7 8\n9 10 11 12 13 14 15 1f 17\n" + kRecordB + "\n"),
                 "d\\a.sfx 10 1f@2\nd\\b.wav 20 2e@4\nend"},
        WalkCase{"HighBytesAreCharacters", listing_of(listing_line("\xe9\xa0\xff.sfx", "1", "2")),
                 "\xe9\xa0\xff.sfx 1 2@2\nend"},
        WalkCase{"AllWhiteSpaceSeparates",
                 listing_of("p.sfx\t1\v2\f3 5 6 7 8 9 10 11 12 13 14 15 ff\n"), "p.sfx 3 ff@2\nend"},
        WalkCase{"TruncatedLastRecord", listing_of(kRecordA + "\nd\\c.sfx 1 2 3\n"),
                 "d\\a.sfx 10 1f@2\nd\\c.sfx !end@3\nend"},
        // A failed conversion leaves the position at the failing character; the next line
        // skip goes on from there, so the next line still gives its record.
        WalkCase{"RecordAfterFailedConversion",
                 listing_of(listing_line("p.sfx", "1", "zz") + "\n" + kRecordB + "\n"),
                 "p.sfx !16@2\nd\\b.wav 20 2e@3\nend"},
        // A header of 1023 characters and its line break is skipped whole; one more, and
        // that character starts the first record. A CR before the LF changes nothing.
        WalkCase{"HeaderOf1023", std::string(1023, 'h') + "\n" + kRecordA, "d\\a.sfx 10 1f@2\nend"},
        WalkCase{"HeaderOf1024", std::string(1024, 'h') + "\n" + kRecordA, "h 2 15@1\nend"},
        WalkCase{"HeaderOf1022AndCR", std::string(1022, 'h') + "\r\n" + kRecordA, "d\\a.sfx 10 1f@2\nend"},
        WalkCase{"HeaderOf1023AndCR", std::string(1023, 'h') + "\r\n" + kRecordA, "d\\a.sfx 10 1f@2\nend"},
        // An overlong path keeps its last 1023 bytes, and with them its extension.
        WalkCase{"OverlongPath",
                 listing_of(listing_line(std::string(5000, 'a') + "\\x.sfx", "1", "2") + "\n" +
                            kRecordB),
                 std::string(1017, 'a') + "\\x.sfx too long (1023)@2\nd\\b.wav 20 2e@3\nend"},
        WalkCase{"PathOf1023", listing_of(listing_line(std::string(1023, 'b'), "1", "2")),
                 std::string(1023, 'b') + " 1 2@2\nend"}),
    [](const auto& info) { return std::string(info.param.name); });

// Column 4 (any base), column 7 (decimal) and column 16 (hex), as the record sees them.
std::string numbers(const std::string& len, const std::string& col7, const std::string& loc) {
  return listing_of("p.sfx 1 2 " + len + " 5 6 " + col7 + " 8 9 10 11 12 13 14 15 " + loc + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    NumberRules, ListingWalk,
    testing::Values(
        WalkCase{"Octal", numbers("010", "7", "0"), "p.sfx 8 0@2\nend"},
        WalkCase{"Hex", numbers("0x10", "7", "0"), "p.sfx 16 0@2\nend"},
        WalkCase{"HexUpperPrefix", numbers("0XaB", "7", "0"), "p.sfx 171 0@2\nend"},
        WalkCase{"Decimal", numbers("10", "7", "0"), "p.sfx 10 0@2\nend"},
        WalkCase{"Negative", numbers("-5", "7", "0"), "p.sfx -5 0@2\nend"},
        WalkCase{"Plus", numbers("+5", "7", "0"), "p.sfx 5 0@2\nend"},
        WalkCase{"NegativeHex", numbers("-0x10", "7", "0"), "p.sfx -16 0@2\nend"},
        WalkCase{"WrapsToMinusOne", numbers("4294967295", "7", "0"), "p.sfx -1 0@2\nend"},
        WalkCase{"KeepsLow32Bits", numbers("4294967306", "7", "0"), "p.sfx 10 0@2\nend"},
        WalkCase{"NegatesModulo", numbers("-4294967295", "7", "0"), "p.sfx 1 0@2\nend"},
        WalkCase{"HexWraps", numbers("0x1FFFFFFFF", "7", "0"), "p.sfx -1 0@2\nend"},
        // The number ends at 'K': "KB" becomes column 5 and every later column shifts.
        WalkCase{"SuffixBecomesNextColumn",
                 listing_of("p.sfx 1 2 100KB 5 6 7 8 9 10 11 12 13 14 15 ff\n"),
                 "p.sfx 100 15@2\nend"},
        // Octal stops at 8: len 0, "89" is column 5, so column 7 is "6" and 16 is "15".
        WalkCase{"OctalStopsAtEight", numbers("0089", "7", "ff"), "p.sfx 0 15@2\nend"},
        WalkCase{"Column7LeadingZeroIsDecimal", numbers("1", "010", "ff"), "p.sfx 1 ff@2\nend"},
        // Column 7 "0x10" converts as 0; "x10" becomes column 8, so 16 is "15".
        WalkCase{"Column7StopsAtX", numbers("1", "0x10", "ff"), "p.sfx 1 15@2\nend"},
        WalkCase{"LocForms", numbers("1", "7", "1f") + listing_line("q", "1", "1F") + "\n" +
                                 listing_line("r", "1", "0x1F") + "\n" +
                                 listing_line("s", "1", "1Fh") + "\n",
                 "p.sfx 1 1f@2\nq 1 1f@3\nr 1 1f@4\ns 1 1f@5\nend"},
        WalkCase{"LocNegative", numbers("1", "7", "-10"), "p.sfx 1 fffffff0@2\nend"},
        // A number that ends with the text: nothing after it is read as a digit.
        WalkCase{"LocZeroAtTheVeryEnd", "1\np.sfx 1 2 3 5 6 7 8 9 10 11 12 13 14 15 0", "p.sfx 3 0@2\nend"},
        WalkCase{"LocWraps", numbers("1", "7", "123456789"), "p.sfx 1 23456789@2\nend"},
        WalkCase{"LenWord", numbers("abc", "7", "0"), "p.sfx !4@2\nend"},
        WalkCase{"LenLoneSign", numbers("-", "7", "0"), "p.sfx !4@2\nend"},
        WalkCase{"LenPrefixWithoutDigit", numbers("0x", "7", "0"), "p.sfx !4@2\nend"},
        WalkCase{"Column7Word", numbers("1", "x7", "0"), "p.sfx !7@2\nend"},
        WalkCase{"LocWord", numbers("1", "7", "zz"), "p.sfx !16@2\nend"},
        WalkCase{"LocPrefixWithoutDigit", numbers("1", "7", "0xg"), "p.sfx !16@2\nend"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ListingReader, RecordsAcrossBufferBoundaries) {
  // Enough records that CR LF pairs, columns and numbers fall on every buffer edge.
  std::string listing = "h\r\n";
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string path = "d\\e" + std::to_string(i) + ".sfx";
    listing += listing_line(path, std::to_string(i), "0x" + std::to_string(i)) + "\r\n";
    char numbers_text[48];
    std::snprintf(numbers_text, sizeof numbers_text, " %d %x@%d\n", i,
                  static_cast<unsigned>(std::stoul(std::to_string(i), nullptr, 16)), i + 2);
    expected += path + numbers_text;
  }
  EXPECT_EQ(walk(listing), expected + "end");
}

}  // namespace
}  // namespace sfx
