// Line-oriented driver for the differential test (tests/oracle/differential.py).
//
// Reads one operation per line from stdin and writes one result line per
// operation to stdout. Decimal operands are either raw parts
// "R<sign 0|1>:<coefficient hex>:<scale>" (any bit pattern) or plain text read
// with from_str. Decimal results are written in the same raw form, so a result
// is checked bit for bit independently of the printer.
//
//   add|sub|mul|div|rem A B   -> ok R.. | overflow | divbyzero
//   cmp A B                   -> -1 | 0 | 1
//   parse HEX | sci HEX       -> ok R.. | err <message>   (HEX: the text's bytes)
//   text A                    -> ok <text form>
//   textp A P                 -> ok <to_str_internal text with precision P, extra zeros appended>
//   round_dp A DP | round A | floor A | ceil A | trunc A | fract A | normalize A -> ok R..
//   sqrt A | powi A N | powu A N | powd A B -> ok R.. | nothing | fault <text>
//   to_u64 A                  -> ok <n> | none
//   f64 HEX16                 -> ok R.. | none      (HEX16: the double's bits)
//   wide add|sub|mul W W | wide div W N | wide atanh W | wide cmp W W
//                             -> ok W.. | none | -1 | 0 | 1
//     (W: "W<sign>:<coefficient hex, up to 192 bits>:<scale>", the extended
//     decimal of the power functions; results are compared as values)

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/dec_wide.hpp"
#include "decimal/decimal.hpp"

using vexlor::ArithResult;
using vexlor::Decimal;
using vexlor::MathResult;

namespace {

bool parse_hex_u64(std::string_view s, uint64_t& out) {
  if (s.empty() || s.size() > 16) return false;
  uint64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  out = v;
  return true;
}

bool parse_u64(std::string_view s, uint64_t& out) {
  if (s.empty() || s.size() > 20) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    const uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

bool parse_i64(std::string_view s, int64_t& out) {
  bool neg = !s.empty() && s[0] == '-';
  if (neg) s.remove_prefix(1);
  uint64_t m;
  if (!parse_u64(s, m)) return false;
  if (neg ? m > uint64_t{1} << 63 : m > uint64_t{INT64_MAX}) return false;
  out = neg ? static_cast<int64_t>(uint64_t{0} - m) : static_cast<int64_t>(m);
  return true;
}

bool unhex(std::string_view s, std::string& out) {
  if (s.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    uint64_t b;
    if (!parse_hex_u64(s.substr(i, 2), b)) return false;
    out.push_back(static_cast<char>(b));
  }
  return true;
}

// "R<sign>:<hex>:<scale>" or a text for from_str.
bool parse_operand(std::string_view s, Decimal& out) {
  if (s.size() > 2 && s[0] == 'R' && s[2] == ':') {
    const bool neg = s[1] == '1';
    s.remove_prefix(3);
    const size_t colon = s.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view hex = s.substr(0, colon);
    uint64_t scale;
    if (!parse_u64(s.substr(colon + 1), scale) || scale > vexlor::MAX_SCALE) return false;
    if (hex.size() > 24 || hex.empty()) return false;
    uint64_t lo = 0, hi = 0;
    std::string_view lo_hex = hex.size() > 16 ? hex.substr(hex.size() - 16) : hex;
    std::string_view hi_hex = hex.size() > 16 ? hex.substr(0, hex.size() - 16) : std::string_view{};
    if (!parse_hex_u64(lo_hex, lo)) return false;
    if (!hi_hex.empty() && !parse_hex_u64(hi_hex, hi)) return false;
    out = Decimal::from_parts(lo, static_cast<uint32_t>(hi), static_cast<uint32_t>(scale), neg);
    return true;
  }
  auto r = Decimal::from_str(s);
  if (!r) return false;
  out = *r;
  return true;
}

void put_raw(std::string& out, const Decimal& d) {
  char buf[64];
  // The flags word must hold only the sign and the scale.
  const uint32_t stray = d.flags() & ~(Decimal::SIGN_BIT | (0xFFu << Decimal::SCALE_SHIFT));
  if (stray != 0 || d.scale() > vexlor::MAX_SCALE) {
    std::snprintf(buf, sizeof buf, "invalid flags %08x", d.flags());
    out += buf;
    return;
  }
  std::snprintf(buf, sizeof buf, "R%d:%x%016llx:%u", d.is_sign_negative() ? 1 : 0, d.hi(),
                static_cast<unsigned long long>(d.lo()), d.scale());
  // Drop leading zeros of the coefficient (keep one digit).
  std::string s(buf);
  size_t start = 3, end = s.find(':', 3);
  while (end - start > 1 && s[start] == '0') ++start;
  out += s.substr(0, 3);
  out += s.substr(start);
}

void put_ok(std::string& out, const Decimal& d) {
  out += "ok ";
  put_raw(out, d);
}

void put_arith(std::string& out, const ArithResult& r) {
  switch (r.status) {
    case ArithResult::Status::Ok: put_ok(out, r.value); break;
    case ArithResult::Status::Overflow: out += "overflow"; break;
    case ArithResult::Status::DivByZero: out += "divbyzero"; break;
  }
}

void put_math(std::string& out, const MathResult& r) {
  switch (r.status) {
    case MathResult::Status::Ok: put_ok(out, r.value); break;
    case MathResult::Status::Nothing: out += "nothing"; break;
    case MathResult::Status::Fault:
      out += "fault ";
      out += r.fault ? r.fault : "(null)";
      break;
  }
}

void put_parsed(std::string& out, const vexlor::Expected<Decimal, vexlor::Error>& r) {
  if (r) {
    put_ok(out, *r);
  } else {
    out += "err ";
    out += r.error().to_string();
  }
}

bool parse_wide(std::string_view s, vexlor::detail::DecWide& out) {
  if (s.size() < 5 || s[0] != 'W' || s[2] != ':') return false;
  out = vexlor::detail::DecWide{};
  out.negative = s[1] == '1';
  s.remove_prefix(3);
  const size_t colon = s.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > 48) return false;
  std::string_view hex = s.substr(0, colon);
  uint64_t scale;
  if (!parse_u64(s.substr(colon + 1), scale)) return false;
  out.scale = static_cast<int64_t>(scale);
  for (int limb = 0; !hex.empty(); ++limb) {
    const size_t take = hex.size() > 16 ? 16 : hex.size();
    if (!parse_hex_u64(hex.substr(hex.size() - take), out.c[limb])) return false;
    hex.remove_suffix(take);
  }
  return true;
}

void put_wide(std::string& out, const vexlor::detail::DecWide& w) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "ok W%d:%016llx%016llx%016llx:%lld", w.negative ? 1 : 0,
                static_cast<unsigned long long>(w.c[2]), static_cast<unsigned long long>(w.c[1]),
                static_cast<unsigned long long>(w.c[0]), static_cast<long long>(w.scale));
  out += buf;
}

bool run_wide(const std::vector<std::string_view>& args, std::string& out) {
  using vexlor::detail::DecWide;
  if (args.size() < 3) return false;
  DecWide a, b;
  if (!parse_wide(args[2], a)) return false;
  const std::string_view op = args[1];
  if (op == "atanh") {
    put_wide(out, DecWide::atanh_argument(a));
    return true;
  }
  if (args.size() != 4) return false;
  if (op == "div") {
    uint64_t d;
    if (!parse_u64(args[3], d) || d == 0 || d > UINT32_MAX) return false;
    put_wide(out, a.div_u32(static_cast<uint32_t>(d)));
    return true;
  }
  if (!parse_wide(args[3], b)) return false;
  if (op == "cmp") {
    out += std::to_string(a.cmp(b));
    return true;
  }
  std::optional<DecWide> r;
  if (op == "add") r = a.add(b);
  else if (op == "sub") r = a.sub(b);
  else if (op == "mul") r = a.mul(b);
  else return false;
  if (r) put_wide(out, *r);
  else out += "none";
  return true;
}

std::vector<std::string_view> split(std::string_view line) {
  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) parts.push_back(line.substr(start, i - start));
  }
  return parts;
}

// Runs one line; false when the line itself is malformed.
bool run_line(std::string_view line, std::string& out) {
  const auto args = split(line);
  if (args.empty()) return false;
  const std::string_view op = args[0];
  Decimal a, b;
  auto one = [&](void) { return args.size() == 2 && parse_operand(args[1], a); };
  auto two = [&](void) { return args.size() == 3 && parse_operand(args[1], a) && parse_operand(args[2], b); };

  if (op == "add" || op == "sub" || op == "mul" || op == "div" || op == "rem") {
    if (!two()) return false;
    if (op == "add") put_arith(out, vexlor::add_impl(a, b));
    else if (op == "sub") put_arith(out, vexlor::sub_impl(a, b));
    else if (op == "mul") put_arith(out, vexlor::mul_impl(a, b));
    else if (op == "div") put_arith(out, vexlor::div_impl(a, b));
    else put_arith(out, vexlor::rem_impl(a, b));
    return true;
  }
  if (op == "cmp") {
    if (!two()) return false;
    const auto c = a.cmp(b);
    out += c < 0 ? "-1" : c > 0 ? "1" : "0";
    return true;
  }
  if (op == "parse" || op == "sci") {
    std::string text;
    if (args.size() == 1) text.clear();  // the empty text
    else if (args.size() != 2 || !unhex(args[1], text)) return false;
    put_parsed(out, op == "parse" ? Decimal::from_str(text) : Decimal::from_scientific(text));
    return true;
  }
  if (op == "text") {
    if (!one()) return false;
    const std::string t = a.to_string();
    char buf[64];
    size_t extra = 0;
    const size_t n = a.to_str_internal(true, std::nullopt, buf, extra);
    if (std::string_view(buf, n) != t || extra != 0) {
      out += "inconsistent text=" + t + " internal=" + std::string(buf, n);
      return true;
    }
    out += "ok " + t;
    return true;
  }
  if (op == "textp") {
    uint64_t p;
    if (args.size() != 3 || !parse_operand(args[1], a) || !parse_u64(args[2], p) || p > 0xFFFFFFFFu) return false;
    char buf[64];
    size_t extra = 0;
    const size_t n = a.to_str_internal(true, static_cast<uint32_t>(p), buf, extra);
    if (n > 32) {
      out += "overrun";
      return true;
    }
    out += "ok " + std::string(buf, n) + std::string(extra, '0');
    return true;
  }
  if (op == "round_dp") {
    uint64_t dp;
    if (args.size() != 3 || !parse_operand(args[1], a) || !parse_u64(args[2], dp) || dp > 0xFFFFFFFFu) return false;
    put_ok(out, a.round_dp(static_cast<uint32_t>(dp)));
    return true;
  }
  if (op == "round" || op == "floor" || op == "ceil" || op == "trunc" || op == "fract" || op == "normalize") {
    if (!one()) return false;
    if (op == "round") put_ok(out, a.round());
    else if (op == "floor") put_ok(out, a.floor());
    else if (op == "ceil") put_ok(out, a.ceil());
    else if (op == "trunc") put_ok(out, a.trunc());
    else if (op == "fract") put_ok(out, a.fract());
    else put_ok(out, a.normalize());
    return true;
  }
  if (op == "wide") return run_wide(args, out);
  if (op == "sqrt") {
    if (!one()) return false;
    put_math(out, vexlor::sqrt(a));
    return true;
  }
  if (op == "powi") {
    int64_t n;
    if (args.size() != 3 || !parse_operand(args[1], a) || !parse_i64(args[2], n)) return false;
    put_math(out, vexlor::checked_powi(a, n));
    return true;
  }
  if (op == "powu") {
    uint64_t n;
    if (args.size() != 3 || !parse_operand(args[1], a) || !parse_u64(args[2], n)) return false;
    put_math(out, vexlor::powu_wide(a, n));
    return true;
  }
  if (op == "powd") {
    if (!two()) return false;
    put_math(out, vexlor::checked_powd(a, b));
    return true;
  }
  if (op == "to_u64") {
    if (!one()) return false;
    const auto v = a.to_u64();
    out += v ? "ok " + std::to_string(*v) : std::string("none");
    return true;
  }
  if (op == "f64") {
    uint64_t bits;
    if (args.size() != 2 || !parse_hex_u64(args[1], bits)) return false;
    double x;
    std::memcpy(&x, &bits, sizeof x);
    const auto d = Decimal::from_f64(x);
    if (d) put_ok(out, *d);
    else out += "none";
    return true;
  }
  return false;
}

}  // namespace

int main() {
  std::ios::sync_with_stdio(false);
  std::string line, out;
  out.reserve(1 << 16);
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t before = out.size();
    if (!run_line(line, out)) {
      out.resize(before);
      out += "badline";
    }
    out += '\n';
    if (out.size() > (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return 0;
}
