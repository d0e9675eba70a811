#pragma once
// Fixed-width fields of the report. A field never adapts its width to its value: a value that does
// not fit is shown as asterisks of the field's width.
//   I w    integer, right-justified
//   F w.d  fixed point with d decimals, right-justified; a leading 0 before the point is dropped
//          when only that keeps the value out of the field
//   E w.d  one digit before the point, d after, exponent E+dd (or +ddd without the letter when
//          the exponent has three digits)
//   A w    text, right-justified, cut to its first w characters when longer
// Rounding is to nearest on the exact binary value, ties to even. A negative value that rounds to
// zero keeps its minus sign. NaN prints as "NaN"; infinities as "Infinity"/"-Infinity", or
// "Inf"/"-Inf" where the field is narrower, or asterisks where even that does not fit.

#include <string>
#include <string_view>

namespace advdiff::report {

std::string format_i(long long value, int width);
std::string format_f(double value, int width, int decimals);
std::string format_e(double value, int width, int decimals);
std::string format_a(std::string_view text, int width);

}  // namespace advdiff::report
