#pragma once
// The identity of a variable: an identifier (`Name`) or a 128-bit UUID (`Uuid`).
// The two kinds never compare equal, whatever the text.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "util/expected.hpp"

namespace vexlor {

// The 16 bytes of a UUID, most significant first (the order of its hex text).
using UuidBytes = std::array<uint8_t, 16>;

class VarId {
 public:
  enum class Kind : uint8_t { Uuid = 0, Name = 1 };

  // The text of a Name, for building one in place (e.g. inside a variant or a
  // node) with its string made once and never moved.
  struct NameText {
    std::string_view text;
  };

  VarId() : v_(UuidBytes{}) {}
  explicit VarId(NameText name) : v_(std::in_place_index<1>, name.text) {}
  static VarId uuid(const UuidBytes& bytes) { return VarId(bytes); }
  static VarId name(std::string text) { return VarId(std::move(text)); }
  static VarId name(std::string_view text) { return VarId(NameText{text}); }
  static VarId name(const char* text) { return VarId(NameText{text}); }

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool is_uuid() const { return v_.index() == 0; }
  bool is_name() const { return v_.index() == 1; }
  const UuidBytes& uuid_bytes() const { return *std::get_if<0>(&v_); }  // Uuid only
  const std::string& name_text() const { return *std::get_if<1>(&v_); }  // Name only

  // The name unchanged, or "{" + lower-case hyphenated UUID + "}".
  std::string display() const;

  // A 64-bit hash consistent with ==; keyed by a random per-process seed.
  uint64_t hash() const;
  // hash() of the Name with this text, without building it.
  static uint64_t name_hash(std::string_view text);

  bool operator==(const VarId& other) const { return v_ == other.v_; }

 private:
  explicit VarId(const UuidBytes& b) : v_(std::in_place_index<0>, b) {}
  explicit VarId(std::string&& s) : v_(std::in_place_index<1>, std::move(s)) {}
  std::variant<UuidBytes, std::string> v_;
};

struct VarIdHash {
  size_t operator()(const VarId& v) const { return static_cast<size_t>(v.hash()); }
};

// The 36-character lower-case hyphenated form (8-4-4-4-12).
std::string uuid_hyphenated(const UuidBytes& bytes);

// Reads a UUID in one of four shapes (hex digits in either case):
//   32 digits; 36 hyphenated 8-4-4-4-12; 38 "{" hyphenated "}"; 45 "urn:uuid:" hyphenated.
// On failure the error is the reason only (callers prefix "UUID parsing failed: "):
//   "invalid character: found `C` at I" (I: byte index in the text, from 0),
//   "invalid length: expected length 32 for simple format, found N",
//   "invalid group count: expected 5, found N",
//   "invalid group length in group G: expected L, found M" (G counted from 1),
//   "failed to parse a UUID".
Expected<UuidBytes, std::string> parse_uuid(std::string_view text);

// True and fills `out` when `text` is a UUID of one of the four shapes (no message built).
bool try_parse_uuid(std::string_view text, UuidBytes& out);

}  // namespace vexlor

template <>
struct std::hash<vexlor::VarId> {
  size_t operator()(const vexlor::VarId& v) const { return static_cast<size_t>(v.hash()); }
};
