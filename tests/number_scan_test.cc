// The two ways of reading a number column must agree: the shortcut's whole_number on the
// column alone, and scan_number on the column followed by a blank, as the general
// conversion reads it.
#include "listing/number_scan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "listing/space_bits.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

// Texts shaped like numbers of every form: a sign, a prefix or a leading 0, digits of one
// base, and now and then a stray character that ends the number early.
std::vector<std::string> number_like_texts() {
  const std::string digit_sets[] = {"01234567", "0123456789", "0123456789abcdefABCDEF"};
  const std::string strays = "89xX+-gG";
  const char* const heads[] = {"", "", "0", "0x", "0X", "+", "-", "-0x"};
  std::mt19937 random(12345);
  std::vector<std::string> texts = {"0",
                                    "00",
                                    "0x",
                                    "+",
                                    "-",
                                    "4294967295",
                                    "4294967306",
                                    "-4294967295",
                                    "0x1FFFFFFFF",
                                    "0089",
                                    "123456789012345678901234567890",
                                    "ffffffffffffffffff"};
  for (int i = 0; i < 20000; ++i) {
    std::string text = heads[random() % 8];
    const std::string& digits = digit_sets[random() % 3];
    for (unsigned n = random() % 18; n > 0; --n) text += digits[random() % digits.size()];
    if (random() % 4 == 0) {
      text.insert(random() % (text.size() + 1), 1, strays[random() % strays.size()]);
    }
    if (!text.empty()) texts.push_back(text);
  }
  return texts;
}

bool whole_number_of(NumberForm form, const std::string& text, std::uint32_t& number) {
  const char* first = text.data();
  const char* last = first + text.size();
  switch (form) {
    case NumberForm::any_base:
      return whole_number<NumberForm::any_base>(first, last, number);
    case NumberForm::decimal:
      return whole_number<NumberForm::decimal>(first, last, number);
    case NumberForm::hex:
      return whole_number<NumberForm::hex>(first, last, number);
  }
  return false;
}

TEST(NumberScan, WholeNumberAgreesWithScanNumber) {
  const std::vector<std::string> texts = number_like_texts();
  std::string joined;
  for (const std::string& text : texts) joined += text + " ";
  for (const NumberForm form : {NumberForm::any_base, NumberForm::decimal, NumberForm::hex}) {
    test::TempFolder folder;
    test::write_file(folder.file("numbers"), joined);
    TextInput input(File(std::fopen(folder.file("numbers").c_str(), "rb")));
    std::uint64_t start = 0;
    int converted = 0;
    for (const std::string& text : texts) {
      while (input.position() < start && input.peek() != TextInput::kEnd) input.advance();
      const std::optional<std::uint32_t> scanned = scan_number(input, form);
      const bool whole = scanned && input.position() == start + text.size();
      start += text.size() + 1;

      std::uint32_t number = 0;
      const bool plain = whole_number_of(form, text, number);
      ASSERT_EQ(plain, whole) << "\"" << text << "\" form " << static_cast<int>(form);
      if (plain) {
        EXPECT_EQ(number, *scanned) << "\"" << text << "\"";
        ++converted;
      }
    }
    // The texts must give both outcomes plenty of times, or the test would prove little.
    EXPECT_GT(converted, 1000);
    EXPECT_LT(converted, static_cast<int>(texts.size()) - 1000);
  }
}

TEST(SpaceBits, FastMapMatchesOneCharacterAtATime) {
  char text[64];
  for (int value = 0; value < 256; ++value) {
    for (int position = 0; position < 64; ++position) {
      for (int i = 0; i < 64; ++i) text[i] = static_cast<char>((value + i * 37) & 0xFF);
      text[position] = static_cast<char>(value);
      const SpaceBits fast = space_bits(text);
      const SpaceBits reference = space_bits_portable(text);
      ASSERT_EQ(fast.spaces, reference.spaces) << "byte " << value << " at " << position;
      ASSERT_EQ(fast.lines, reference.lines) << "byte " << value << " at " << position;
    }
  }
  std::string blanks = " \t\n\v\f\r";
  blanks.resize(64, 'x');
  EXPECT_EQ(space_bits_portable(blanks.data()).spaces, 0x3Fu);
  EXPECT_EQ(space_bits_portable(blanks.data()).lines, 0x4u);
}

}  // namespace
}  // namespace sfx
