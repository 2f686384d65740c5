#include "parser/varid.hpp"

#include <cstring>
#include <random>

namespace vexlor {
namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef";
constexpr size_t GROUP_LENGTHS[5] = {8, 4, 4, 4, 12};
constexpr std::string_view URN_PREFIX = "urn:uuid:";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 32 hex digits, no separators.
bool parse_simple(std::string_view s, UuidBytes& out) {
  for (size_t i = 0; i < 16; ++i) {
    const int h = hex_value(s[2 * i]), l = hex_value(s[2 * i + 1]);
    if (h < 0 || l < 0) return false;
    out[i] = static_cast<uint8_t>(h << 4 | l);
  }
  return true;
}

// 36 characters, 8-4-4-4-12.
bool parse_hyphenated(std::string_view s, UuidBytes& out) {
  if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return false;
  char digits[32];
  size_t n = 0;
  for (size_t i = 0; i < 36; ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) continue;
    digits[n++] = s[i];
  }
  return parse_simple(std::string_view(digits, 32), out);
}

uint64_t random_seed() {
  std::random_device rd;
  return (static_cast<uint64_t>(rd()) << 32) ^ rd();
}

uint64_t process_seed() {
  static const uint64_t seed = random_seed();
  return seed;
}

inline uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

// The n < 8 bytes at p as a little-endian word, read without a call to memcpy
// of a variable length: two overlapping loads cover 4 to 7 bytes, three single
// bytes cover 1 to 3 (overlapping bytes land on the same bits).
inline uint64_t load_tail(const unsigned char* p, size_t n) {
  if (n >= 4) {
    uint32_t low, high;
    std::memcpy(&low, p, 4);
    std::memcpy(&high, p + n - 4, 4);
    return static_cast<uint64_t>(low) | static_cast<uint64_t>(high) << (8 * (n - 4));
  }
  if (n == 0) return 0;
  return static_cast<uint64_t>(p[0]) | static_cast<uint64_t>(p[n / 2]) << (8 * (n / 2)) |
         static_cast<uint64_t>(p[n - 1]) << (8 * (n - 1));
}

uint64_t hash_bytes(const unsigned char* p, size_t n, uint64_t seed) {
  uint64_t h = seed ^ (n * 0x9e3779b97f4a7c15ULL);
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ mix(w + seed)) * 0x9e3779b97f4a7c15ULL;
    p += 8;
    n -= 8;
  }
  const uint64_t tail = load_tail(p, n);
  h = (h ^ mix(tail + seed + n)) * 0x9e3779b97f4a7c15ULL;
  return mix(h);
}

// The UTF-8 character starting at byte i (a lone bad byte is shown as itself).
std::string_view char_at(std::string_view s, size_t i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  size_t len = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
  if (i + len > s.size()) len = 1;
  for (size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
      len = 1;
      break;
    }
  }
  return s.substr(i, len);
}

}  // namespace

std::string uuid_hyphenated(const UuidBytes& b) {
  std::string out(36, '-');
  size_t pos = 0;
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) ++pos;
    out[pos++] = HEX_DIGITS[b[i] >> 4];
    out[pos++] = HEX_DIGITS[b[i] & 0xF];
  }
  return out;
}

std::string VarId::display() const {
  if (is_name()) return name_text();
  std::string out;
  out.reserve(38);
  out += '{';
  out += uuid_hyphenated(uuid_bytes());
  out += '}';
  return out;
}

uint64_t VarId::hash() const {
  const uint64_t seed = process_seed();
  if (is_uuid()) {
    const UuidBytes& b = uuid_bytes();
    uint64_t hi, lo;
    std::memcpy(&hi, b.data(), 8);
    std::memcpy(&lo, b.data() + 8, 8);
    return mix(mix(hi ^ seed) + lo);
  }
  return name_hash(name_text());
}

uint64_t VarId::name_hash(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  const uint64_t seed = process_seed() ^ 0x5bd1e995ULL;
  // Most names fit one word: a single finishing mix, a bijection of the word for each length.
  if (n < 8) return mix((load_tail(bytes, n) ^ seed) + n * 0x9e3779b97f4a7c15ULL);
  return hash_bytes(bytes, n, seed);
}

bool try_parse_uuid(std::string_view text, UuidBytes& out) {
  switch (text.size()) {
    case 32:
      return parse_simple(text, out);
    case 36:
      return parse_hyphenated(text, out);
    case 38:
      return text.front() == '{' && text.back() == '}' && parse_hyphenated(text.substr(1, 36), out);
    case 45:
      return text.substr(0, 9) == URN_PREFIX && parse_hyphenated(text.substr(9), out);
    default:
      return false;
  }
}

Expected<UuidBytes, std::string> parse_uuid(std::string_view text) {
  UuidBytes bytes{};
  if (try_parse_uuid(text, bytes)) return bytes;

  // Explain the failure: look through a wrapper, then at characters, groups and lengths.
  std::string_view inner = text;
  size_t offset = 0;
  if (text.substr(0, URN_PREFIX.size()) == URN_PREFIX) {
    inner = text.substr(URN_PREFIX.size());
    offset = URN_PREFIX.size();
  } else if (text.size() >= 2 && text.front() == '{' && text.back() == '}') {
    inner = text.substr(1, text.size() - 2);
    offset = 1;
  }
  size_t groups = 1;
  for (size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == '-') {
      ++groups;
    } else if (hex_value(inner[i]) < 0) {
      return unexpected("invalid character: found `" + std::string(char_at(inner, i)) + "` at " +
                        std::to_string(offset + i));
    }
  }
  if (groups == 1) {
    if (inner.size() != 32) {
      return unexpected("invalid length: expected length 32 for simple format, found " +
                        std::to_string(inner.size()));
    }
    return unexpected(std::string("failed to parse a UUID"));
  }
  if (groups != 5) return unexpected("invalid group count: expected 5, found " + std::to_string(groups));
  size_t group = 0, start = 0;
  for (size_t i = 0; i <= inner.size(); ++i) {
    if (i == inner.size() || inner[i] == '-') {
      const size_t len = i - start;
      if (len != GROUP_LENGTHS[group]) {
        return unexpected("invalid group length in group " + std::to_string(group + 1) + ": expected " +
                          std::to_string(GROUP_LENGTHS[group]) + ", found " + std::to_string(len));
      }
      ++group;
      start = i + 1;
    }
  }
  return unexpected(std::string("failed to parse a UUID"));
}

}  // namespace vexlor
