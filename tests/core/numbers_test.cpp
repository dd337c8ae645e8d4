// The number parser against the C library's conversions (which the test may
// use: it pins down the bits the parser must give), under the "C" locale
// and under one that writes decimals with a comma.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <bit>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/core/core.h"
#include "tests/support/support.h"

namespace {

using core::NumberScan;
using core::NumberStatus;
using core::NumberSyntax;

uint32_t Bits(float value) { return std::bit_cast<uint32_t>(value); }
uint64_t Bits(double value) { return std::bit_cast<uint64_t>(value); }

// Decimal strings of every shape the C reader takes: signs, leading zeros,
// short and very long digit runs, with and without a point, exponents near
// and beyond both ends of the float range, and values printed close to
// the rounding midpoints between neighbouring floats. Some carry trailing
// bytes the number must stop at.
std::vector<std::string> RandomDecimals(size_t count) {
  std::mt19937_64 rng(20240611);
  auto pick = [&](uint64_t n) { return rng() % n; };
  auto digits = [&](size_t n, std::string* out) {
    for (size_t i = 0; i < n; ++i) out->push_back(static_cast<char>('0' + pick(10)));
  };
  std::vector<std::string> out;
  out.reserve(count);
  char buffer[128];
  while (out.size() < count) {
    std::string s;
    switch (pick(3)) {
      case 0: s += '-'; break;
      case 1: s += '+'; break;
      default: break;
    }
    uint64_t shape = pick(10);
    if (shape < 2) {
      // Near a midpoint: halfway between a random float and its neighbour
      // (exact in a double), printed with 17 to 40 significant digits.
      uint32_t bits = static_cast<uint32_t>(pick(0x7f7fffff));
      float low = std::bit_cast<float>(bits);
      float high = std::nextafter(low, std::numeric_limits<float>::infinity());
      double mid = (static_cast<double>(low) + static_cast<double>(high)) / 2.0;
      std::snprintf(buffer, sizeof buffer, "%.*e", static_cast<int>(16 + pick(24)), mid);
      s += buffer;
    } else {
      if (pick(4) == 0) s.append(pick(40), '0');
      size_t whole = pick(5) == 0 ? pick(120) : pick(12);
      digits(whole, &s);
      bool point = pick(2) == 0 || whole == 0;
      if (point) {
        s += '.';
        size_t fraction = pick(5) == 0 ? pick(120) : pick(12);
        if (whole == 0 && fraction == 0) fraction = 1;
        if (pick(6) == 0) s.append(pick(50), '0');
        digits(fraction, &s);
      }
      if (pick(2) == 0) {
        s += pick(2) ? 'e' : 'E';
        switch (pick(3)) {
          case 0: s += '-'; break;
          case 1: s += '+'; break;
          default: break;
        }
        // Mostly small, sometimes past the float range (38 / -45) and the
        // double range (308 / -324).
        int exponent = pick(4) == 0 ? static_cast<int>(pick(400)) : static_cast<int>(pick(50));
        if (pick(8) == 0) s += '0';
        s += std::to_string(exponent);
      }
    }
    if (pick(8) == 0) s += " x,e-"[pick(5)];
    out.push_back(s);
  }
  return out;
}

constexpr NumberSyntax kDecimal{.plus = true};
constexpr size_t kSamples = 100000;

struct Expected {
  uint32_t float_bits;
  uint64_t double_bits;
  size_t length;
};

// What the C library reads, in whatever locale is set.
std::vector<Expected> LibraryReadings(const std::vector<std::string>& samples) {
  std::vector<Expected> out;
  out.reserve(samples.size());
  for (const std::string& s : samples) {
    char* end = nullptr;
    float f = std::strtof(s.c_str(), &end);
    size_t length = static_cast<size_t>(end - s.c_str());
    double d = std::strtod(s.c_str(), nullptr);
    out.push_back(Expected{Bits(f), Bits(d), length});
  }
  return out;
}

// Compares the parser with `expected`; stops after a few mismatches.
void ExpectParserMatches(const std::vector<std::string>& samples, const std::vector<Expected>& expected) {
  int failures = 0;
  for (size_t i = 0; i < samples.size() && failures < 10; ++i) {
    const std::string& s = samples[i];
    float f = -1.0f;
    double d = -1.0;
    NumberScan fs = core::ScanNumber(s, &f, kDecimal);
    NumberScan ds = core::ScanNumber(s, &d, kDecimal);
    bool ok = fs.status != NumberStatus::kNoNumber && Bits(f) == expected[i].float_bits &&
              Bits(d) == expected[i].double_bits && fs.length == expected[i].length &&
              ds.length == expected[i].length;
    if (!ok) {
      ++failures;
      ADD_FAILURE() << "\"" << s << "\": float " << std::hexfloat << f << " double " << d << " length "
                    << fs.length << "; the C library reads " << std::bit_cast<float>(expected[i].float_bits)
                    << " / " << std::bit_cast<double>(expected[i].double_bits) << " over "
                    << expected[i].length << " bytes";
    }
  }
}

TEST(Numbers, RealsMatchTheCLibraryBitForBit) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  std::vector<std::string> samples = RandomDecimals(kSamples);
  ExpectParserMatches(samples, LibraryReadings(samples));
}

// ---------------------------------------------------------------------------
// A locale with a decimal comma: an installed one, or one compiled into a
// temporary folder (localedef needs no root for that) and found through
// LOCPATH.
// ---------------------------------------------------------------------------

bool SetCommaLocale() {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR",
                           "de_DE@euro", "fr_FR@euro", "nl_NL.UTF-8", "ru_RU.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, name) && std::strcmp(std::localeconv()->decimal_point, ",") == 0) return true;
  }
  std::setlocale(LC_NUMERIC, "C");
  return false;
}

class CommaLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("LOCPATH");
    had_locpath_ = path != nullptr;
    if (path) old_locpath_ = path;
    if (SetCommaLocale()) return;
    // Compile de_DE from the locale sources, when they are there.
    struct stat st {};
    if (stat("/usr/share/i18n/locales/de_DE", &st) != 0) return;
    testing_support::ChildResult made = testing_support::RunChild(
        {"/bin/sh", "-c", "localedef -i de_DE -f UTF-8 \"$0\"/de_DE.UTF-8 >/dev/null 2>&1", folder_.path()}, {},
        60.0);
    if (made.timed_out || !testing_support::Exists(folder_ / "de_DE.UTF-8/LC_NUMERIC")) return;
    setenv("LOCPATH", folder_.path().c_str(), 1);
    SetCommaLocale();
  }
  void TearDown() override {
    std::setlocale(LC_NUMERIC, "C");
    if (had_locpath_)
      setenv("LOCPATH", old_locpath_.c_str(), 1);
    else
      unsetenv("LOCPATH");
  }
  static bool Active() { return std::strcmp(std::localeconv()->decimal_point, ",") == 0; }

  testing_support::TempDir folder_;
  bool had_locpath_ = false;
  std::string old_locpath_;
};

TEST_F(CommaLocale, RealsReadTheSameUnderACommaLocale) {
  // The readings to match are taken before the locale changes.
  std::setlocale(LC_NUMERIC, "C");
  std::vector<std::string> samples = RandomDecimals(kSamples);
  std::vector<Expected> expected = LibraryReadings(samples);
  if (!SetCommaLocale())
    GTEST_SKIP() << "no locale with a decimal comma is installed (tried de_DE, fr_FR, nl_NL, ru_RU) and none "
                    "could be compiled with localedef";
  ASSERT_TRUE(Active());
  // The locale is in force: the C library now reads and writes commas.
  EXPECT_EQ(std::strtod("1,5", nullptr), 1.5);
  char printed[16];
  std::snprintf(printed, sizeof printed, "%.1f", 2.5);
  EXPECT_STREQ(printed, "2,5");

  ExpectParserMatches(samples, expected);
  double value = 0.0;
  EXPECT_FALSE(core::ParseNumber("1,5", &value));
  EXPECT_TRUE(core::ParseNumber("1.5", &value));
  EXPECT_EQ(value, 1.5);
  float real = 0.0f;
  NumberScan scan = core::ScanNumber("1,5", &real);
  EXPECT_EQ(scan.length, 1u);
  EXPECT_EQ(real, 1.0f);
}

// ---------------------------------------------------------------------------
// Spellings
// ---------------------------------------------------------------------------

constexpr NumberSyntax kEverything{.skip_space = true, .plus = true, .exponent = true, .inf_nan = true, .hex = true};

TEST(Numbers, RealSpellingsFollowTheSyntax) {
  constexpr double kKept = -7.0;
  const struct {
    const char* text;
    NumberSyntax syntax;
    NumberStatus status;
    size_t length;
    double value;
  } cases[] = {
      {"1.5", {}, NumberStatus::kOk, 3, 1.5},
      {"-0.25x", {}, NumberStatus::kOk, 5, -0.25},
      {"3.", {}, NumberStatus::kOk, 2, 3.0},
      {".5", {}, NumberStatus::kOk, 2, 0.5},
      {"-.5", {}, NumberStatus::kOk, 3, -0.5},
      {".", {}, NumberStatus::kNoNumber, 0, kKept},
      {"-", {}, NumberStatus::kNoNumber, 0, kKept},
      {"", {}, NumberStatus::kNoNumber, 0, kKept},
      {"-.e5", {}, NumberStatus::kNoNumber, 0, kKept},
      {"+1", {}, NumberStatus::kNoNumber, 0, kKept},
      {"+1", {.plus = true}, NumberStatus::kOk, 2, 1.0},
      {"+-1", {.plus = true}, NumberStatus::kNoNumber, 0, kKept},
      {"--1", {}, NumberStatus::kNoNumber, 0, kKept},
      {" 1", {}, NumberStatus::kNoNumber, 0, kKept},
      {" \t\n\v\f\r1", {.skip_space = true}, NumberStatus::kOk, 7, 1.0},
      {"2e3", {}, NumberStatus::kOk, 3, 2000.0},
      {"2E+3", {}, NumberStatus::kOk, 4, 2000.0},
      {"2.5e-1", {}, NumberStatus::kOk, 6, 0.25},
      {"2e3", {.exponent = false}, NumberStatus::kOk, 1, 2.0},
      {"2e", {}, NumberStatus::kOk, 1, 2.0},
      {"2e+", {}, NumberStatus::kOk, 1, 2.0},
      {"2e-x", {}, NumberStatus::kOk, 1, 2.0},
      {"1e400", {}, NumberStatus::kOutOfRange, 5, std::numeric_limits<double>::infinity()},
      {"-1e400", {}, NumberStatus::kOutOfRange, 6, -std::numeric_limits<double>::infinity()},
      {"1e-400", {}, NumberStatus::kOutOfRange, 6, 0.0},
      {"-1e-400", {}, NumberStatus::kOutOfRange, 7, -0.0},
      {"0e99999999999999999999999", {}, NumberStatus::kOk, 25, 0.0},
      {"1e99999999999999999999999", {}, NumberStatus::kOutOfRange, 25, std::numeric_limits<double>::infinity()},
      {"4.9e-324", {}, NumberStatus::kOk, 8, 4.9e-324},  // the least subnormal is in range
      {"inf", {}, NumberStatus::kNoNumber, 0, kKept},
      {"nan", {}, NumberStatus::kNoNumber, 0, kKept},
      {"inf", {.inf_nan = true}, NumberStatus::kOk, 3, std::numeric_limits<double>::infinity()},
      {"-Infinity", {.inf_nan = true}, NumberStatus::kOk, 9, -std::numeric_limits<double>::infinity()},
      {"INFINITE", {.inf_nan = true}, NumberStatus::kOk, 3, std::numeric_limits<double>::infinity()},
      {"in", {.inf_nan = true}, NumberStatus::kNoNumber, 0, kKept},
      {"0x10", {}, NumberStatus::kOk, 1, 0.0},
      {"0x10", {.hex = true}, NumberStatus::kOk, 4, 16.0},
      {"-0X1.8p1", {.hex = true}, NumberStatus::kOk, 8, -3.0},
      {"0x.8", {.hex = true}, NumberStatus::kOk, 4, 0.5},
      {"0x1p", {.hex = true}, NumberStatus::kOk, 3, 1.0},
      {"0x", {.hex = true}, NumberStatus::kOk, 1, 0.0},
      {"0xg", {.hex = true}, NumberStatus::kOk, 1, 0.0},
      {"0x.p1", {.hex = true}, NumberStatus::kOk, 1, 0.0},
      {"0x1p99999", {.hex = true}, NumberStatus::kOutOfRange, 9, std::numeric_limits<double>::infinity()},
      {"0x1p-99999", {.hex = true}, NumberStatus::kOutOfRange, 10, 0.0},
      {"0x0p99999", {.hex = true}, NumberStatus::kOk, 9, 0.0},
  };
  for (const auto& c : cases) {
    double value = kKept;
    NumberScan scan = core::ScanNumber(c.text, &value, c.syntax);
    EXPECT_EQ(scan.status, c.status) << c.text;
    EXPECT_EQ(scan.length, c.length) << c.text;
    EXPECT_EQ(Bits(value), Bits(c.value)) << c.text << ": " << value;
  }

  double value = 0.0;
  NumberScan scan = core::ScanNumber("-nan(0x12_z)!", &value, kEverything);
  EXPECT_EQ(scan.status, NumberStatus::kOk);
  EXPECT_EQ(scan.length, 12u);
  EXPECT_TRUE(std::isnan(value) && std::signbit(value));
  scan = core::ScanNumber("NaN(x y)", &value, kEverything);
  EXPECT_EQ(scan.length, 3u);  // no closing parenthesis: "NaN" alone
  EXPECT_TRUE(std::isnan(value));

  // Out of range for float, in range for double.
  float real = 0.0f;
  scan = core::ScanNumber("3.5e38", &real);
  EXPECT_EQ(scan.status, NumberStatus::kOutOfRange);
  EXPECT_EQ(real, std::numeric_limits<float>::infinity());
  scan = core::ScanNumber("-1e-46", &real);
  EXPECT_EQ(scan.status, NumberStatus::kOutOfRange);
  EXPECT_EQ(Bits(real), Bits(-0.0f));
  EXPECT_EQ(core::ScanNumber("3.4028235e38", &real).status, NumberStatus::kOk);
  EXPECT_EQ(real, std::numeric_limits<float>::max());
}

TEST(Numbers, WholeTextReals) {
  double value = 9.0;
  EXPECT_TRUE(core::ParseNumber("2.5e2", &value));
  EXPECT_EQ(value, 250.0);
  for (const char* bad : {"", " 1", "1 ", "1x", "1e", "+1", "inf", "nan", "1e400", "1,5", "0x10"}) {
    value = 9.0;
    EXPECT_FALSE(core::ParseNumber(bad, &value)) << bad;
    EXPECT_EQ(value, 9.0) << bad;
  }
  EXPECT_TRUE(core::ParseNumber(" +inf", &value, kEverything));
  EXPECT_EQ(value, std::numeric_limits<double>::infinity());
  EXPECT_TRUE(core::ParseNumber("0x1p-2", &value, kEverything));
  EXPECT_EQ(value, 0.25);
  float real = 0.0f;
  EXPECT_TRUE(core::ParseNumber("0.1", &real));
  EXPECT_EQ(real, 0.1f);
  // The text is a view: no terminator is read.
  EXPECT_TRUE(core::ParseNumber(std::string_view("12345", 2), &real));
  EXPECT_EQ(real, 12.0f);
}

// ---------------------------------------------------------------------------
// Integers
// ---------------------------------------------------------------------------

TEST(Numbers, IntegerTable) {
  constexpr int64_t kKept = 77;
  const struct {
    const char* text;
    NumberSyntax syntax;
    NumberStatus status;
    size_t length;
    int64_t value;
  } cases[] = {
      {"0", {}, NumberStatus::kOk, 1, 0},
      {"123", {}, NumberStatus::kOk, 3, 123},
      {"-123", {}, NumberStatus::kOk, 4, -123},
      {"007", {}, NumberStatus::kOk, 3, 7},
      {"-0", {}, NumberStatus::kOk, 2, 0},
      {"", {}, NumberStatus::kNoNumber, 0, kKept},
      {"-", {}, NumberStatus::kNoNumber, 0, kKept},
      {"+", {.plus = true}, NumberStatus::kNoNumber, 0, kKept},
      {"x1", {}, NumberStatus::kNoNumber, 0, kKept},
      {"+5", {}, NumberStatus::kNoNumber, 0, kKept},
      {"+5", {.plus = true}, NumberStatus::kOk, 2, 5},
      {"+-5", {.plus = true}, NumberStatus::kNoNumber, 0, kKept},
      {"--5", {}, NumberStatus::kNoNumber, 0, kKept},
      {"- 5", {}, NumberStatus::kNoNumber, 0, kKept},
      {" 5", {}, NumberStatus::kNoNumber, 0, kKept},
      {" \t-5", {.skip_space = true}, NumberStatus::kOk, 4, -5},
      {"12abc", {}, NumberStatus::kOk, 2, 12},
      {"1.5", {}, NumberStatus::kOk, 1, 1},
      {"1e3", {}, NumberStatus::kOk, 1, 1},
      {"0x1F", {}, NumberStatus::kOk, 1, 0},
      {"9223372036854775807", {}, NumberStatus::kOk, 19, INT64_MAX},
      {"-9223372036854775808", {}, NumberStatus::kOk, 20, INT64_MIN},
      {"9223372036854775808", {}, NumberStatus::kOutOfRange, 19, INT64_MAX},
      {"-9223372036854775809", {}, NumberStatus::kOutOfRange, 20, INT64_MIN},
      {"99999999999999999999999x", {}, NumberStatus::kOutOfRange, 23, INT64_MAX},
  };
  for (const auto& c : cases) {
    int64_t value = kKept;
    NumberScan scan = core::ScanNumber(c.text, &value, c.syntax);
    EXPECT_EQ(scan.status, c.status) << c.text;
    EXPECT_EQ(scan.length, c.length) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    // The whole-text form: only a number filling the text, in range.
    value = kKept;
    bool whole = c.status == NumberStatus::kOk && c.length == std::strlen(c.text);
    EXPECT_EQ(core::ParseNumber(c.text, &value, c.syntax), whole) << c.text;
    EXPECT_EQ(value, whole ? c.value : kKept) << c.text;
  }
}

TEST(Numbers, IntegerWidthsSaturateAtTheirOwnLimits) {
  int32_t i32 = 0;
  EXPECT_EQ(core::ScanNumber("2147483647", &i32).status, NumberStatus::kOk);
  EXPECT_EQ(i32, INT32_MAX);
  EXPECT_EQ(core::ScanNumber("-2147483648", &i32).status, NumberStatus::kOk);
  EXPECT_EQ(i32, INT32_MIN);
  EXPECT_EQ(core::ScanNumber("2147483648", &i32).status, NumberStatus::kOutOfRange);
  EXPECT_EQ(i32, INT32_MAX);
  EXPECT_EQ(core::ScanNumber("-2147483649", &i32).status, NumberStatus::kOutOfRange);
  EXPECT_EQ(i32, INT32_MIN);
  EXPECT_FALSE(core::ParseNumber("4294967295", &i32));

  uint32_t u32 = 5;
  EXPECT_TRUE(core::ParseNumber("4294967295", &u32));
  EXPECT_EQ(u32, UINT32_MAX);
  NumberScan scan = core::ScanNumber("4294967296", &u32);
  EXPECT_EQ(scan.status, NumberStatus::kOutOfRange);
  EXPECT_EQ(scan.length, 10u);
  EXPECT_EQ(u32, UINT32_MAX);
  u32 = 5;
  // Unsigned numbers take no '-', not even "-0".
  EXPECT_EQ(core::ScanNumber("-1", &u32).status, NumberStatus::kNoNumber);
  EXPECT_EQ(core::ScanNumber("-0", &u32).status, NumberStatus::kNoNumber);
  EXPECT_EQ(u32, 5u);
  EXPECT_TRUE(core::ParseNumber("+7", &u32, {.plus = true}));
  EXPECT_EQ(u32, 7u);

  uint64_t u64 = 0;
  EXPECT_TRUE(core::ParseNumber("18446744073709551615", &u64));
  EXPECT_EQ(u64, UINT64_MAX);
  EXPECT_EQ(core::ScanNumber("18446744073709551616", &u64).status, NumberStatus::kOutOfRange);
  EXPECT_EQ(u64, UINT64_MAX);
}

TEST(Numbers, IntegersMatchTheCLibraryOnRandomText) {
  std::mt19937_64 rng(5);
  const NumberSyntax lenient{.skip_space = true, .plus = true};
  for (int i = 0; i < 20000; ++i) {
    std::string s;
    if (rng() % 5 == 0) s += " \t";
    if (rng() % 3 == 0) s += "+-"[rng() % 2];
    s.append(rng() % 4 == 0 ? rng() % 30 : 0, '0');
    for (uint64_t n = rng() % 25; n > 0; --n) s += static_cast<char>('0' + rng() % 10);
    if (rng() % 2) s += "x9";
    char* end = nullptr;
    errno = 0;
    long long expected = std::strtoll(s.c_str(), &end, 10);
    bool range = errno == ERANGE;
    int64_t value = 0;
    NumberScan scan = core::ScanNumber(s, &value, lenient);
    ASSERT_EQ(scan.status == NumberStatus::kNoNumber ? 0u : scan.length, static_cast<size_t>(end - s.c_str()))
        << s;
    ASSERT_EQ(value, expected) << s;
    ASSERT_EQ(scan.status == NumberStatus::kOutOfRange, range) << s;
  }
}

}  // namespace
