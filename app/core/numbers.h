// Locale-free number parsing: the program's one way from text to numbers.
//
// Every function reads the "C" spelling ('.' decimals, no grouping)
// whatever LC_NUMERIC says, allocates nothing and touches no global state.
// Reals are correctly rounded to the target type (the same bits the C
// library's conversions give in the "C" locale); integers are decimal.
//
// Each caller states which spellings it takes through NumberSyntax, so one
// parser serves readers as strict as std::from_chars and readers as lenient
// as the C library's:
//
//   double rate;
//   if (!core::ParseNumber(text, &rate)) ...              // whole text
//   core::NumberScan s = core::ScanNumber(text, &n, {.skip_space = true});
//   // s.length bytes were a number; the rest is the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace core {

// What a number may look like beyond the plain form: an optional '-' and
// decimal digits, for reals with an optional '.' and fraction digits
// ("12", "-0.5", "3.", ".25"). The default is what std::from_chars reads,
// except that "inf" and "nan" are not numbers.
struct NumberSyntax {
  bool skip_space = false;  // leading " \t\n\v\f\r" are skipped (and counted)
  bool plus = false;        // a leading '+' (never followed by '-')
  bool exponent = true;     // reals: "1e5", "2.5E-3"; an 'e' with no digits
                            // after it is not part of the number
  bool inf_nan = false;     // reals: "inf", "infinity", "nan", "nan(chars)"
                            // in any case (a NaN payload is not kept)
  bool hex = false;         // reals: C hex reals, "0x1.8p3", "0x10";
                            // "0x" with no hex digit reads as the "0" alone
};

enum class NumberStatus {
  kOk,
  kNoNumber,    // the text (after any skipped space) does not start with one
  kOutOfRange,  // a number beyond the type; *out holds the saturated value
};

struct NumberScan {
  NumberStatus status = NumberStatus::kNoNumber;
  // Bytes the number took, skipped space and sign included; 0 with
  // kNoNumber.
  size_t length = 0;
};

// Reads the number at the start of `text` and leaves what follows it to
// the caller. kOk: *out is the value. kOutOfRange: *out is the integer
// type's limit on the number's side, or for reals +-infinity for a value
// too large and +-0 for one too small (as in C). kNoNumber: *out is
// untouched. Unsigned types take no '-'.
NumberScan ScanNumber(std::string_view text, float* out, const NumberSyntax& syntax = {});
NumberScan ScanNumber(std::string_view text, double* out, const NumberSyntax& syntax = {});
NumberScan ScanNumber(std::string_view text, int32_t* out, const NumberSyntax& syntax = {});
NumberScan ScanNumber(std::string_view text, int64_t* out, const NumberSyntax& syntax = {});
NumberScan ScanNumber(std::string_view text, uint32_t* out, const NumberSyntax& syntax = {});
NumberScan ScanNumber(std::string_view text, uint64_t* out, const NumberSyntax& syntax = {});

// True when all of `text` is one number within the type's range; *out is
// then set, and otherwise untouched (empty text, trailing bytes, out of
// range).
bool ParseNumber(std::string_view text, float* out, const NumberSyntax& syntax = {});
bool ParseNumber(std::string_view text, double* out, const NumberSyntax& syntax = {});
bool ParseNumber(std::string_view text, int32_t* out, const NumberSyntax& syntax = {});
bool ParseNumber(std::string_view text, int64_t* out, const NumberSyntax& syntax = {});
bool ParseNumber(std::string_view text, uint32_t* out, const NumberSyntax& syntax = {});
bool ParseNumber(std::string_view text, uint64_t* out, const NumberSyntax& syntax = {});

}  // namespace core
