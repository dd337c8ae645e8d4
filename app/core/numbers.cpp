// Number parsing. The spelling is scanned here, so every syntax rule is
// the caller's choice; the conversion itself is an exact fast path for
// short decimals and std::from_chars (locale-free, correctly rounded) for
// the rest. The tag reader converts millions of numbers per scene file, so
// the plain forms it reads take short paths ahead of the full scan.
#include "app/core/numbers.h"

#include <charconv>
#include <limits>
#include <type_traits>

namespace core {
namespace {

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsHexDigit(char c) { return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }
inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsNanChar(char c) { return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_'; }

// True when [p, end) starts with the lower-case `word` in any case.
bool StartsNoCase(const char* p, const char* end, std::string_view word) {
  if (static_cast<size_t>(end - p) < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if ((p[i] | 0x20) != word[i]) return false;
  return true;
}

// Leading space and sign as `syntax` allows. Returns where the digits
// should start; nullptr when a sign is there but forbidden.
const char* SkipSpaceAndSign(const char* p, const char* end, const NumberSyntax& syntax, bool* negative) {
  if (syntax.skip_space)
    while (p < end && IsSpace(*p)) ++p;
  *negative = false;
  if (p < end && *p == '-') {
    *negative = true;
    ++p;
  } else if (p < end && *p == '+') {
    if (!syntax.plus) return nullptr;
    ++p;
  }
  return p;
}

NumberScan Scanned(const char* begin, const char* end, NumberStatus status) {
  return NumberScan{status, static_cast<size_t>(end - begin)};
}

// Every spelling, in full. Out of line so that ScanInteger's short path
// needs no stack frame.
template <typename T>
[[gnu::noinline]] NumberScan ScanIntegerInFull(std::string_view text, T* out, const NumberSyntax& syntax) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  bool negative = false;
  const char* digits = SkipSpaceAndSign(begin, end, syntax, &negative);
  if (!digits || digits == end || !IsDigit(*digits)) return {};
  if (negative && std::is_unsigned_v<T>) return {};
  // The magnitude is read unsigned so the most negative value needs no
  // special case.
  using Magnitude = std::make_unsigned_t<T>;
  Magnitude magnitude = 0;
  std::from_chars_result result = std::from_chars(digits, end, magnitude);
  constexpr Magnitude kMax = static_cast<Magnitude>(std::numeric_limits<T>::max());
  const Magnitude limit = negative ? kMax + 1 : kMax;
  if (result.ec != std::errc() || magnitude > limit) {
    // from_chars still moves past every digit of a number too large.
    while (result.ptr < end && IsDigit(*result.ptr)) ++result.ptr;
    *out = negative ? std::numeric_limits<T>::min() : std::numeric_limits<T>::max();
    return Scanned(begin, result.ptr, NumberStatus::kOutOfRange);
  }
  *out = negative ? static_cast<T>(Magnitude{0} - magnitude) : static_cast<T>(magnitude);
  return Scanned(begin, result.ptr, NumberStatus::kOk);
}

// Up to digits10 plain digits after an optional '-' cannot overflow: that
// usual case takes a short path with no stack frame.
template <typename T>
NumberScan ScanInteger(std::string_view text, T* out, const NumberSyntax& syntax) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  const char* p = begin;
  const bool negative = std::is_signed_v<T> && p < end && *p == '-';
  if (negative) ++p;
  using Magnitude = std::make_unsigned_t<T>;
  Magnitude magnitude = 0;
  const char* q = p;
  for (; q < end && IsDigit(*q); ++q) magnitude = magnitude * 10 + static_cast<unsigned char>(*q - '0');
  if (q > p && q - p <= std::numeric_limits<T>::digits10) {
    *out = negative ? static_cast<T>(Magnitude{0} - magnitude) : static_cast<T>(magnitude);
    return Scanned(begin, q, NumberStatus::kOk);
  }
  return ScanIntegerInFull(text, out, syntax);
}

// Exact powers of ten: every one up to 1e22 is a double without rounding.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The value mantissa * 10^scale when one floating-point operation on exact
// operands gives it correctly rounded; false otherwise. `digits` (at most
// 15) counts the mantissa's digits, leading zeros included.
//
// double: the mantissa is below 2^53 and 10^|scale| is exact up to 1e22,
// so one multiplication or division rounds once (Clinger's fast path).
// float: a product below 10^15 is exact in a double, so only the cast
// rounds. For a quotient by at most 1e8 the correctly rounded double cannot
// land on a float rounding midpoint unless the decimal value is that
// midpoint, so rounding it again to float gives the correctly rounded float.
bool FastPath(uint64_t mantissa, int /*digits*/, int64_t scale, double* out) {
  if (scale >= 0 && scale <= 22) {
    *out = static_cast<double>(mantissa) * kPowersOfTen[scale];
    return true;
  }
  if (scale < 0 && scale >= -22) {
    *out = static_cast<double>(mantissa) / kPowersOfTen[-scale];
    return true;
  }
  return false;
}

bool FastPath(uint64_t mantissa, int digits, int64_t scale, float* out) {
  double value = 0.0;
  if (scale <= 0 && scale >= -8) {
    value = static_cast<double>(mantissa) / kPowersOfTen[-scale];
  } else if (scale > 0 && digits + scale <= 15) {
    value = static_cast<double>(mantissa) * kPowersOfTen[scale];
  } else {
    return false;
  }
  *out = static_cast<float>(value);
  return true;
}

// Exponent digits beyond this add nothing but risk overflow; any exponent
// this large is out of every range anyway.
constexpr int64_t kExponentCap = 100000000000000000;

// Reads "[+-]digits" at *p into *exponent (which stops growing once past
// kExponentCap) and moves *p past it; leaves both alone when no digit
// follows.
void ReadExponent(const char** p, const char* end, int64_t* exponent) {
  const char* q = *p;
  bool negative = false;
  if (q < end && (*q == '+' || *q == '-')) negative = *q++ == '-';
  if (q == end || !IsDigit(*q)) return;
  int64_t value = 0;
  for (; q < end && IsDigit(*q); ++q)
    if (value < kExponentCap) value = value * 10 + (*q - '0');
  *exponent = negative ? -value : value;
  *p = q;
}

template <typename T>
NumberScan Finish(const char* begin, const char* end, bool negative, T magnitude, NumberStatus status, T* out) {
  *out = negative ? -magnitude : magnitude;
  return Scanned(begin, end, status);
}

// A hex real after "0x" at `digits`: hex digits with an optional '.', then
// an optional binary exponent "p[+-]digits". The caller has seen a hex
// digit.
template <typename T>
NumberScan ScanHexReal(const char* begin, const char* digits, const char* end, bool negative, T* out) {
  const char* q = digits;
  // The binary exponent of the leading digit, near enough to tell a value
  // too large from one too small: those lie far from 1.
  int64_t lead = 0;
  bool nonzero = false;
  int64_t fraction_zeros = 0;
  for (; q < end && IsHexDigit(*q); ++q) {
    if (nonzero) lead += 4;
    else if (*q != '0') nonzero = true;
  }
  if (q < end && *q == '.') {
    for (++q; q < end && IsHexDigit(*q); ++q) {
      if (!nonzero && *q != '0') {
        nonzero = true;
        lead = -4 * (fraction_zeros + 1);
      }
      ++fraction_zeros;
    }
  }
  int64_t exponent = 0;
  if (q < end && (*q | 0x20) == 'p') {
    // A 'p' with no digits after it is not part of the number.
    const char* e = q + 1;
    ReadExponent(&e, end, &exponent);
    if (e != q + 1) q = e;
  }
  if (!nonzero) return Finish(begin, q, negative, T{0}, NumberStatus::kOk, out);
  T magnitude = 0;
  std::from_chars_result result = std::from_chars(digits, q, magnitude, std::chars_format::hex);
  if (result.ec == std::errc()) return Finish(begin, q, negative, magnitude, NumberStatus::kOk, out);
  magnitude = lead + exponent >= 0 ? std::numeric_limits<T>::infinity() : T{0};
  return Finish(begin, q, negative, magnitude, NumberStatus::kOutOfRange, out);
}

// "inf", "infinity", "nan" and "nan(chars)" at p, or no number.
template <typename T>
NumberScan ScanInfNan(const char* begin, const char* p, const char* end, bool negative, T* out) {
  if (StartsNoCase(p, end, "infinity"))
    return Finish(begin, p + 8, negative, std::numeric_limits<T>::infinity(), NumberStatus::kOk, out);
  if (StartsNoCase(p, end, "inf"))
    return Finish(begin, p + 3, negative, std::numeric_limits<T>::infinity(), NumberStatus::kOk, out);
  if (!StartsNoCase(p, end, "nan")) return {};
  const char* q = p + 3;
  // "nan(chars)" takes the parentheses along; without the closing one
  // only "nan" is the number.
  if (q < end && *q == '(') {
    const char* close = q + 1;
    while (close < end && IsNanChar(*close)) ++close;
    if (close < end && *close == ')') q = close + 1;
  }
  return Finish(begin, q, negative, std::numeric_limits<T>::quiet_NaN(), NumberStatus::kOk, out);
}

// The decimal [p, q) (digits up to `point`, then any '.' and fraction, then
// any exponent, already read as `exponent`) that the fast path does not
// take.
template <typename T>
NumberScan ConvertDecimal(const char* begin, const char* p, const char* point, const char* q, int64_t exponent,
                          bool has_exponent, bool negative, T* out) {
  T magnitude = 0;
  std::from_chars_result result =
      std::from_chars(p, q, magnitude, has_exponent ? std::chars_format::general : std::chars_format::fixed);
  if (result.ec == std::errc()) return Finish(begin, q, negative, magnitude, NumberStatus::kOk, out);
  // Out of range: too large when the leading nonzero digit stands at or
  // above the units, too small otherwise.
  int64_t lead = -1;
  const char* d = p;
  while (d < point && *d == '0') ++d;
  if (d < point) {
    lead = (point - d) - 1;
  } else if (point < q && *point == '.') {
    for (d = point + 1; d < q && *d == '0'; ++d) --lead;
    if (d == q || !IsDigit(*d)) return Finish(begin, q, negative, T{0}, NumberStatus::kOk, out);
  } else {
    return Finish(begin, q, negative, T{0}, NumberStatus::kOk, out);
  }
  magnitude = lead + exponent >= 0 ? std::numeric_limits<T>::infinity() : T{0};
  return Finish(begin, q, negative, magnitude, NumberStatus::kOutOfRange, out);
}

// Every spelling, in full. Out of line so that ScanReal's short path
// needs no stack frame.
template <typename T>
[[gnu::noinline]] NumberScan ScanRealInFull(std::string_view text, T* out, const NumberSyntax& syntax) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  bool negative = false;
  const char* p = SkipSpaceAndSign(begin, end, syntax, &negative);
  if (!p || p == end) return {};
  if (!IsDigit(*p) && *p != '.') return syntax.inf_nan ? ScanInfNan(begin, p, end, negative, out) : NumberScan{};
  if (syntax.hex && *p == '0' && end - p >= 3 && (p[1] | 0x20) == 'x' &&
      (IsHexDigit(p[2]) || (p[2] == '.' && end - p >= 4 && IsHexDigit(p[3]))))
    return ScanHexReal(begin, p + 2, end, negative, out);

  // Decimal: digits, optional '.', digits, at least one digit in all. The
  // mantissa wraps beyond 19 digits; it is only used with at most 15.
  const char* q = p;
  uint64_t mantissa = 0;
  for (; q < end && IsDigit(*q); ++q) mantissa = mantissa * 10 + static_cast<unsigned char>(*q - '0');
  const char* point = q;
  int64_t fraction = 0;
  if (q < end && *q == '.') {
    const char* first = ++q;
    for (; q < end && IsDigit(*q); ++q) mantissa = mantissa * 10 + static_cast<unsigned char>(*q - '0');
    fraction = q - first;
  }
  const int64_t digits = (point - p) + fraction;
  if (digits == 0) return {};
  int64_t exponent = 0;
  bool has_exponent = false;
  if (syntax.exponent && q < end && (*q == 'e' || *q == 'E')) {
    const char* e = q + 1;
    ReadExponent(&e, end, &exponent);
    if (e != q + 1) {
      has_exponent = true;
      q = e;
    }
  }
  if (digits <= 15) {
    T magnitude = 0;
    if (FastPath(mantissa, static_cast<int>(digits), exponent - fraction, &magnitude))
      return Finish(begin, q, negative, magnitude, NumberStatus::kOk, out);
  }
  return ConvertDecimal(begin, p, point, q, exponent, has_exponent, negative, out);
}

// The usual number ("-12.345678", as "%f" writes it) takes a short path
// that needs no stack frame, exact for the reasons FastPath gives;
// anything else is read again in full.
template <typename T>
NumberScan ScanReal(std::string_view text, T* out, const NumberSyntax& syntax) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  const char* q = begin;
  if (q < end && *q == '-') ++q;
  const char* p = q;
  uint64_t mantissa = 0;
  for (; q < end && IsDigit(*q); ++q) mantissa = mantissa * 10 + static_cast<unsigned char>(*q - '0');
  int64_t digits = q - p;
  int64_t fraction = 0;
  if (q < end && *q == '.') {
    p = ++q;
    for (; q < end && IsDigit(*q); ++q) mantissa = mantissa * 10 + static_cast<unsigned char>(*q - '0');
    fraction = q - p;
    digits += fraction;
  }
  constexpr int64_t kMaxFraction = std::is_same_v<T, float> ? 8 : 22;
  // An 'e' may start an exponent; "0x" may be a hex real.
  const bool plain = q == end || (((*q | 0x20) != 'e' || !syntax.exponent) && ((*q | 0x20) != 'x' || !syntax.hex));
  if (digits > 0 && digits <= 15 && fraction <= kMaxFraction && plain) {
    T magnitude = static_cast<T>(static_cast<double>(mantissa) / kPowersOfTen[fraction]);
    *out = *begin == '-' ? -magnitude : magnitude;
    return Scanned(begin, q, NumberStatus::kOk);
  }
  return ScanRealInFull(text, out, syntax);
}

template <typename T>
bool ParseWhole(std::string_view text, T* out, const NumberSyntax& syntax) {
  T value{};
  NumberScan scan = ScanNumber(text, &value, syntax);
  if (scan.status != NumberStatus::kOk || scan.length != text.size()) return false;
  *out = value;
  return true;
}

}  // namespace

NumberScan ScanNumber(std::string_view text, float* out, const NumberSyntax& syntax) {
  return ScanReal(text, out, syntax);
}
NumberScan ScanNumber(std::string_view text, double* out, const NumberSyntax& syntax) {
  return ScanReal(text, out, syntax);
}
NumberScan ScanNumber(std::string_view text, int32_t* out, const NumberSyntax& syntax) {
  return ScanInteger(text, out, syntax);
}
NumberScan ScanNumber(std::string_view text, int64_t* out, const NumberSyntax& syntax) {
  return ScanInteger(text, out, syntax);
}
NumberScan ScanNumber(std::string_view text, uint32_t* out, const NumberSyntax& syntax) {
  return ScanInteger(text, out, syntax);
}
NumberScan ScanNumber(std::string_view text, uint64_t* out, const NumberSyntax& syntax) {
  return ScanInteger(text, out, syntax);
}

bool ParseNumber(std::string_view text, float* out, const NumberSyntax& syntax) {
  return ParseWhole(text, out, syntax);
}
bool ParseNumber(std::string_view text, double* out, const NumberSyntax& syntax) {
  return ParseWhole(text, out, syntax);
}
bool ParseNumber(std::string_view text, int32_t* out, const NumberSyntax& syntax) {
  return ParseWhole(text, out, syntax);
}
bool ParseNumber(std::string_view text, int64_t* out, const NumberSyntax& syntax) {
  return ParseWhole(text, out, syntax);
}
bool ParseNumber(std::string_view text, uint32_t* out, const NumberSyntax& syntax) {
  return ParseWhole(text, out, syntax);
}
bool ParseNumber(std::string_view text, uint64_t* out, const NumberSyntax& syntax) {
  return ParseWhole(text, out, syntax);
}

}  // namespace core
