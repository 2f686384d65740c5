// Fuzzes the text readers (from_str, from_scientific) on arbitrary bytes.
// A success must be a valid value whose text form reads back to the same
// representation; a failure must carry one of the readers' known messages.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.hpp"
#include "decimal/decimal.hpp"

using vexlor::Decimal;
using vexlor::Error;

namespace {

constexpr std::array<std::string_view, 7> kReaderMessages = {
    "Invalid decimal: empty",
    "Invalid decimal: must start lead with a number",
    "Invalid decimal: two decimal points",
    "Invalid decimal: unknown character",
    "Invalid decimal: no digits found",
    "Invalid decimal: overflow from too many digits",
    "Invalid decimal: overflow from mantissa after rounding",
};

bool known_reader_message(const Error& e) {
  if (e.kind() != Error::Kind::Message) return false;
  for (auto m : kReaderMessages)
    if (e.text() == m) return true;
  return false;
}

bool known_scientific_error(const Error& e) {
  if (known_reader_message(e)) return true;
  switch (e.kind()) {
    case Error::Kind::Message: return e.text() == "Failed to parse";
    case Error::Kind::TooLarge: return true;
    case Error::Kind::ScaleTooLarge: return e.scale() > vexlor::MAX_SCALE;
    default: return false;
  }
}

void check_round_trip(const Decimal& d, std::string_view input, const char* reader) {
  const std::string in(input);
  fuzzcheck::require_valid(d, reader, in);
  if (d.is_zero() && d.is_sign_negative()) fuzzcheck::fail("reader produced a negative zero", in);
  const std::string text = d.to_string();
  if (text.size() > 31) fuzzcheck::fail("text form longer than 31 characters", in + " -> " + text);
  char buf[64];
  size_t extra = 0;
  const size_t n = d.to_str_internal(true, std::nullopt, buf, extra);
  if (std::string_view(buf, n) != text || extra != 0)
    fuzzcheck::fail("to_str_internal differs from the text form", in + " -> " + text);
  const auto back = Decimal::from_str(text);
  if (!back) fuzzcheck::fail("text form does not read back", in + " -> " + text + ": " + back.error().to_string());
  if (!back->same_repr(d))
    fuzzcheck::fail("text form reads back to another representation",
                    in + " -> " + fuzzcheck::show(d) + " -> " + fuzzcheck::show(*back));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const auto plain = Decimal::from_str(text);
  if (plain) {
    check_round_trip(*plain, text, "from_str");
  } else if (!known_reader_message(plain.error())) {
    fuzzcheck::fail("from_str: unknown error", std::string(text) + " -> " + plain.error().to_string());
  }

  const auto sci = Decimal::from_scientific(text);
  if (sci) {
    check_round_trip(*sci, text, "from_scientific");
    if (text.find_first_of("eE") == std::string_view::npos)
      fuzzcheck::fail("from_scientific accepted a text without an exponent", std::string(text));
  } else if (!known_scientific_error(sci.error())) {
    fuzzcheck::fail("from_scientific: unknown error", std::string(text) + " -> " + sci.error().to_string());
  }
  return 0;
}
