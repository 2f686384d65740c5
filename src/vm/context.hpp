#pragma once
// What a run reads: the variables and the built-in function table.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "compiler/bytecode.hpp"
#include "decimal/decimal.hpp"
#include "parser/varid.hpp"
#include "util/expected.hpp"
#include "vm/errors.hpp"

namespace vexlor {

// A built-in function: the arguments in call order (the first pushed first), read
// only for the duration of the call. Returns true and sets `out`, or returns false
// and sets `error`.
using BuiltinFn = bool (*)(std::span<const Decimal> args, Decimal& out, std::optional<VmError>& error);

// Name -> function, fixed after construction.
class FunctionTable {
 public:
  FunctionTable() { slots_.fill(nullptr); }
  void insert(std::string_view name, BuiltinFn fn);
  BuiltinFn find(std::string_view name) const {  // nullptr when absent
    const auto it = map_.find(name);
    return it == map_.end() ? nullptr : it->second;
  }
  // The function of a name's slot (see function_slot), or nullptr.
  BuiltinFn find_slot(uint8_t slot) const { return slot < slots_.size() ? slots_[slot] : nullptr; }
  size_t size() const { return map_.size(); }

 private:
  std::unordered_map<std::string_view, BuiltinFn> map_;
  std::array<BuiltinFn, FUNCTION_SLOT_COUNT> slots_;
};

// DEFAULT_FUNCTIONS: the eleven built-ins, built on first use under a thread-safe
// one-time initialisation and never changed afterwards.
const FunctionTable& default_functions();

// Open-addressing hash map VarId -> Decimal, seeded per map.
class VariableMap {
 public:
  VariableMap();
  // Inserts, or replaces the value of an equal key.
  void insert_or_assign(const VarId& key, const Decimal& value);
  const Decimal* find(const VarId& key) const { return find(key, key.hash()); }
  const Decimal* find(const VarId& key, uint64_t key_hash) const {
    if (size_ == 0) return nullptr;
    for (size_t i = bucket(key_hash);; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (!s.used) return nullptr;
      if (s.hash == key_hash && same_key(s.key, key)) return &s.value;
    }
  }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void reserve(size_t count);
  template <class F>
  void for_each(F&& f) const {  // f(const VarId&, const Decimal&), in no particular order
    for (const Slot& s : slots_) {
      if (s.used) f(s.key, s.value);
    }
  }

 private:
  struct Slot {
    uint64_t hash = 0;
    VarId key;
    Decimal value;
    bool used = false;
  };
  // Equality of VarId, with short names compared inline.
  static bool same_key(const VarId& a, const VarId& b) {
    if (a.kind() != b.kind()) return false;
    if (a.is_uuid()) return a.uuid_bytes() == b.uuid_bytes();
    const std::string& x = a.name_text();
    const std::string& y = b.name_text();
    if (x.size() != y.size()) return false;
    if (x.size() > 16) return x == y;
    for (size_t i = 0; i < x.size(); ++i) {
      if (x[i] != y[i]) return false;
    }
    return true;
  }
  size_t bucket(uint64_t h) const { return static_cast<size_t>(((h ^ seed_) * 0x9e3779b97f4a7c15ULL) >> shift_); }
  void rehash(size_t capacity);

  std::vector<Slot> slots_;
  size_t size_ = 0;
  size_t mask_ = 0;
  unsigned shift_ = 63;
  uint64_t seed_;
};

struct VmContext {
  VariableMap variables;
  const FunctionTable* functions = &default_functions();
};

}  // namespace vexlor
