#pragma once
// What a run reads: the variables and the built-in function table.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
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
  // The same for a slot function_slot gave (below FUNCTION_SLOT_COUNT).
  BuiltinFn in_slot(uint8_t slot) const { return slots_[slot]; }
  size_t size() const { return map_.size(); }

 private:
  std::unordered_map<std::string_view, BuiltinFn> map_;
  std::array<BuiltinFn, FUNCTION_SLOT_COUNT> slots_;
};

// DEFAULT_FUNCTIONS: the eleven built-ins, built on first use under a thread-safe
// one-time initialisation and never changed afterwards.
const FunctionTable& default_functions();

namespace detail {
// The k-th multiplier of the small variable index: odd, well mixed.
constexpr uint64_t small_index_multiplier(size_t k) {
  uint64_t z = 0x9e3779b97f4a7c15ULL * (k + 1);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return (z ^ (z >> 31)) | 1;
}
}  // namespace detail

// Map VarId -> Decimal. Entries live in insertion order, the first few in the
// object itself (no allocation for a typical context), found through a small
// inline index; beyond SMALL entries an open-addressing index seeded per map.
class VariableMap {
 public:
  static constexpr size_t INLINE = 8;
  static constexpr size_t SMALL = 8;

  VariableMap() {
    std::memset(small_index_, SMALL_EMPTY, sizeof small_index_);
    mark_no_key();
  }
  VariableMap(const VariableMap&) = delete;
  VariableMap& operator=(const VariableMap&) = delete;
  VariableMap(VariableMap&& other) noexcept {
    mark_no_key();
    take(other);
  }
  VariableMap& operator=(VariableMap&& other) noexcept {
    if (this != &other) {
      clear();
      take(other);
    }
    return *this;
  }
  ~VariableMap() {
    clear();
    unmark_no_key();
  }

  // Inserts, or replaces the value of an equal key.
  void insert_or_assign(VarId key, const Decimal& value) {
    const uint64_t hash = key.hash();
    insert_or_assign(std::move(key), value, hash);
  }
  void insert_or_assign(VarId key, const Decimal& value, uint64_t hash);
  // The same for the Name with this text; its key is built once, in place.
  void insert_or_assign_name(std::string_view name, const Decimal& value);
  // The same for a name the caller knows to be absent (keys read from a table of
  // distinct texts): nothing is looked up first.
  void insert_new_name(std::string_view name, const Decimal& value);
  const Decimal* find(const VarId& key) const { return find(key, key.hash()); }
  const Decimal* find(const VarId& key, uint64_t hash) const { return find_slow(key, pack_var_id(key), hash); }
  // The look-up of a LoadVar instruction. Inline: the home bucket of a small map,
  // where a present key sits (see small_mul_); an empty bucket, and every bucket
  // of a larger map, leads to a slot whose key matches none. Every other case
  // goes through find_slow.
  // `hash`: op.hash, which the instruction keeps at hand.
  const Decimal* find(const LoadVarOperand& op, uint64_t hash) const {
    if (const Decimal* v = find_at_home(op, hash)) [[likely]]
      return v;
    return find_slow(op.var, op.packed, hash);
  }
  // The inline part of that look-up: the value, or nullptr when the key is not
  // in its home bucket of a small map (absent, or to be found by find_elsewhere).
  const Decimal* find_at_home(const LoadVarOperand& op, uint64_t hash) const {
    const Entry& e = small_entry(small_index_[small_home(hash)]);
    return quick_match(e, op) ? &e.value : nullptr;
  }
  // The rest of it, after find_at_home gave nullptr.
  const Decimal* find_elsewhere(const LoadVarOperand& op, uint64_t hash) const {
    return find_slow(op.var, op.packed, hash);
  }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The keys of a small map that are not in their home bucket (normally none);
  // 0 beyond SMALL entries.
  size_t small_keys_away() const;
  // Room for `count` entries. A small map keeps its entries inline until it
  // outgrows them, then moves them to room for at least `count`.
  void reserve(size_t count);
  void clear();
  template <class F>
  void for_each(F&& f) const {  // f(const VarId&, const Decimal&), in insertion order
    for (size_t i = 0; i < size_; ++i) f(data_[i].key, data_[i].value);
  }

 private:
  // Aligned to 8 so that its size is a whole number of words on every target.
  struct alignas(8) Entry {
    // The key's packed form; a long name's tag has its LONG_NAME bit moved to
    // QUICK_LONG, so that the quick test never takes it for a match.
    PackedVarId quick;
    uint64_t hash;
    Decimal value;
    VarId key;
  };
  static constexpr uint32_t EMPTY = UINT32_MAX;
  // While the map is small, a 64-bucket index by the top bits of the (process-keyed)
  // hash times small_mul_.
  static constexpr size_t SMALL_BUCKETS = 64;
  static constexpr unsigned SMALL_SHIFT = 58;
  // The multipliers a small map tries, small_mul(0) first, until each of its keys has a
  // bucket of its own; when none gives that, the first is kept and keys that
  // find their bucket taken go to the next free one.
  // With eight keys a multiplier fails about one time in three: all of them
  // fail about once in 10^14 maps.
  static constexpr size_t SMALL_MUL_COUNT = 32;
  static constexpr uint64_t small_mul(size_t k) { return detail::small_index_multiplier(k); }
  static constexpr uint64_t SMALL_MULS_FIRST = detail::small_index_multiplier(0);
  // A small-index bucket holds its entry's offset in 8-byte words (slot * ENTRY_WORDS).
  static constexpr size_t ENTRY_WORDS = sizeof(Entry) / 8;
  static_assert(sizeof(Entry) % 8 == 0 && INLINE * ENTRY_WORDS <= 0xFF);
  // While the map is small its entries are the inline ones (see reserve).
  const Entry& small_entry(uint8_t words) const {
    return *reinterpret_cast<const Entry*>(inline_ + size_t{words} * 8);
  }
  static_assert(INLINE >= SMALL);
  // An empty bucket (every bucket once the map has its full index): the slot after
  // the inline entries, whose quick form matches no key (see mark_no_key).
  static constexpr uint8_t SMALL_EMPTY = INLINE * ENTRY_WORDS;
  void mark_no_key() {
    // No packed key has all bits of its tag set (a tag's low byte is its kind).
    const PackedVarId none{~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0}};
    new (inline_ + INLINE * sizeof(Entry)) Entry{none, 0, Decimal(), VarId()};
  }
  void unmark_no_key() { reinterpret_cast<Entry*>(inline_ + INLINE * sizeof(Entry))->~Entry(); }
  static constexpr uint64_t QUICK_LONG = uint64_t{1} << 62;

  // Equality of VarId: the packed words decide unless the key is a long name.
  static bool same_key(const Entry& e, const VarId& key, const PackedVarId& packed) {
    if (e.quick.w0 != packed.w0 || e.quick.w1 != packed.w1) return false;
    if ((packed.tag & PackedVarId::LONG_NAME) != 0) return e.key == key;
    return e.quick.tag == packed.tag;
  }
  // A long name never matches here (see Entry::quick).
  static bool quick_match(const Entry& e, const LoadVarOperand& op) {
    return ((e.quick.w0 ^ op.packed.w0) | (e.quick.w1 ^ op.packed.w1) | (e.quick.tag ^ op.packed.tag)) == 0;
  }
  size_t small_home(uint64_t hash) const { return static_cast<size_t>((hash * small_mul_) >> SMALL_SHIFT); }
  // Places the first size_ entries by small_home, probing on from a taken bucket.
  void place_small();
  static PackedVarId quick_form(PackedVarId p) {
    if ((p.tag & PackedVarId::LONG_NAME) != 0) p.tag ^= PackedVarId::LONG_NAME | QUICK_LONG;
    return p;
  }
  size_t bucket(uint64_t h) const { return static_cast<size_t>(((h ^ seed_) * 0x9e3779b97f4a7c15ULL) >> shift_); }
  [[gnu::noinline]] const Decimal* find_slow(const VarId& key, const PackedVarId& packed, uint64_t hash) const;
  template <class MakeKey>
  void append(const PackedVarId& packed, uint64_t hash, const Decimal& value, MakeKey&& make_key);
  void take(VariableMap& other) noexcept;
  void grow(size_t capacity);
  void build_index(size_t buckets);
  void index_entry(uint32_t slot);

  Entry* data_ = reinterpret_cast<Entry*>(inline_);
  size_t size_ = 0;
  size_t capacity_ = INLINE;
  size_t reserved_ = 0;  // a capacity asked for by reserve while the map was small
  std::vector<uint32_t> index_;  // empty while the map is small (size_ <= SMALL)
  uint64_t small_mul_ = SMALL_MULS_FIRST;
  uint8_t small_index_[SMALL_BUCKETS];
  size_t mask_ = 0;
  unsigned shift_ = 63;
  uint64_t seed_ = 0;
  alignas(Entry) unsigned char inline_[(INLINE + 1) * sizeof(Entry)];  // and the no-key slot
};

struct VmContext {
  VariableMap variables;
  const FunctionTable* functions = &default_functions();
  // Once true, a run stops at its next backward jump with a Cancelled error.
  const std::atomic<bool>* cancel = nullptr;
};

}  // namespace vexlor
