#pragma once
// Reading column values as Decimal, by the rules that apply to variable values
// given one at a time: integers exactly, floats through their shortest text
// (then the double conversion), decimals exactly (or through their text when
// the coefficient does not fit), strings through the decimal text readers.

#include <cstdint>
#include <string_view>

#include "columnar/column.hpp"

namespace vexlor::columnar {

// The state of one value read.
enum class Slot : uint8_t { Value = 0, Null = 1, Invalid = 2 };

// Reads rows [row, row + count) of `column` into `out` and `slots`. An Invalid
// slot's error is found again by conversion_error.
void read_rows(const Column& column, int64_t row, int64_t count, Decimal* out, Slot* slots);

// The error of reading `row` of `column`, a row whose slot was Invalid.
RowError conversion_error(const Column& column, int64_t row);

// A value's text read as a decimal numeral, else in scientific form.
bool decimal_from_text(std::string_view text, Decimal& out);

// The shortest text that reads back as `value`, written as Python's repr of a
// float writes it ("0.1", "123.0", "1e+16", "1.5e-05", "nan", "-inf"); for a
// float32, the shortest that reads back as that float32 (0.1f gives "0.1").
// `out` holds at least 32 characters; returns the length.
size_t float_repr(double value, char* out);
size_t float_repr(float value, char* out);

}  // namespace vexlor::columnar
