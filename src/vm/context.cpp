#include "vm/context.hpp"

#include <atomic>
#include <bit>
#include <algorithm>
#include <cassert>
#include <new>
#include <random>

#include "vm/functions.hpp"

namespace vexlor {
namespace {

uint64_t next_map_seed() {
  static const uint64_t base = [] {
    std::random_device rd;
    return (static_cast<uint64_t>(rd()) << 32) ^ rd();
  }();
  static std::atomic<uint64_t> counter{0};
  uint64_t z = base + 0x9e3779b97f4a7c15ULL * (counter.fetch_add(1, std::memory_order_relaxed) + 1);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

}  // namespace

void FunctionTable::insert(std::string_view name, BuiltinFn fn) {
  map_[name] = fn;
  const uint8_t slot = function_slot(name);
  if (slot != NO_FUNCTION_SLOT) slots_[slot] = fn;
}

const FunctionTable& default_functions() {
  static const FunctionTable DEFAULT_FUNCTIONS = [] {
    FunctionTable t;
    t.insert("add", builtin::checked_fold);
    t.insert("mul", builtin::multiply);
    t.insert("max", builtin::max);
    t.insert("round", builtin::round);
    t.insert("sqrt", builtin::sqrt);
    t.insert("min", builtin::min);
    t.insert("abs", builtin::abs);
    t.insert("floor", builtin::floor);
    t.insert("ceil", builtin::ceil);
    t.insert("sum", builtin::sum);
    t.insert("average", builtin::average);
    return t;
  }();
  return DEFAULT_FUNCTIONS;
}


void VariableMap::clear() {
  for (size_t i = 0; i < size_; ++i) data_[i].~Entry();
  if (data_ != reinterpret_cast<Entry*>(inline_)) ::operator delete(data_);
  data_ = reinterpret_cast<Entry*>(inline_);
  capacity_ = INLINE;
  reserved_ = 0;
  size_ = 0;
  index_.clear();
  small_mul_ = SMALL_MULS_FIRST;
  std::fill(std::begin(small_index_), std::end(small_index_), SMALL_EMPTY);
}

void VariableMap::take(VariableMap& other) noexcept {
  if (other.data_ == reinterpret_cast<Entry*>(other.inline_)) {
    for (size_t i = 0; i < other.size_; ++i) {
      new (&data_[i]) Entry(std::move(other.data_[i]));
      other.data_[i].~Entry();
    }
  } else {
    data_ = other.data_;
    capacity_ = other.capacity_;
    other.data_ = reinterpret_cast<Entry*>(other.inline_);
    other.capacity_ = INLINE;
  }
  size_ = other.size_;
  other.size_ = 0;
  reserved_ = other.reserved_;
  other.reserved_ = 0;
  index_ = std::move(other.index_);
  other.index_.clear();
  std::copy(std::begin(other.small_index_), std::end(other.small_index_), std::begin(small_index_));
  std::fill(std::begin(other.small_index_), std::end(other.small_index_), SMALL_EMPTY);
  small_mul_ = other.small_mul_;
  other.small_mul_ = SMALL_MULS_FIRST;
  mask_ = other.mask_;
  shift_ = other.shift_;
  seed_ = other.seed_;
}

const Decimal* VariableMap::find_slow(const VarId& key, const PackedVarId& packed, uint64_t hash) const {
  if (size_ <= SMALL) {
    for (size_t b = small_home(hash);; b = (b + 1) & (SMALL_BUCKETS - 1)) {
      const uint8_t words = small_index_[b];
      if (words == SMALL_EMPTY) return nullptr;
      const Entry& e = small_entry(words);
      if (e.hash == hash && same_key(e, key, packed)) return &e.value;
    }
  }
  for (size_t b = bucket(hash);; b = (b + 1) & mask_) {
    const uint32_t slot = index_[b];
    if (slot == EMPTY) return nullptr;
    const Entry& e = data_[slot];
    if (e.hash == hash && same_key(e, key, packed)) return &e.value;
  }
}

void VariableMap::place_small() {
  small_mul_ = SMALL_MULS_FIRST;
  for (size_t k = 0; k < SMALL_MUL_COUNT; ++k) {
    const uint64_t mul = small_mul(k);
    uint64_t taken = 0;
    size_t i = 0;
    for (; i < size_; ++i) {
      const uint64_t bit = uint64_t{1} << ((data_[i].hash * mul) >> SMALL_SHIFT);
      if ((taken & bit) != 0) break;
      taken |= bit;
    }
    if (i == size_) {
      small_mul_ = mul;
      break;
    }
  }
  std::fill(std::begin(small_index_), std::end(small_index_), SMALL_EMPTY);
  for (size_t i = 0; i < size_; ++i) {
    size_t b = small_home(data_[i].hash);
    while (small_index_[b] != SMALL_EMPTY) b = (b + 1) & (SMALL_BUCKETS - 1);
    small_index_[b] = static_cast<uint8_t>(i * ENTRY_WORDS);
  }
}

size_t VariableMap::small_keys_away() const {
  if (size_ > SMALL) return 0;
  size_t away = 0;
  for (size_t i = 0; i < size_; ++i) {
    if (small_index_[small_home(data_[i].hash)] != i * ENTRY_WORDS) ++away;
  }
  return away;
}

void VariableMap::reserve(size_t count) {
  if (count <= capacity_) return;
  if (size_ <= SMALL) {
    reserved_ = std::max(reserved_, count);
    return;
  }
  grow(count);
}

void VariableMap::grow(size_t capacity) {
  auto* fresh = static_cast<Entry*>(::operator new(capacity * sizeof(Entry)));
  for (size_t i = 0; i < size_; ++i) {
    new (&fresh[i]) Entry(std::move(data_[i]));
    data_[i].~Entry();
  }
  if (data_ != reinterpret_cast<Entry*>(inline_)) ::operator delete(data_);
  data_ = fresh;
  capacity_ = capacity;
}

void VariableMap::build_index(size_t buckets) {
  if (seed_ == 0) seed_ = next_map_seed() | 1;
  std::fill(std::begin(small_index_), std::end(small_index_), SMALL_EMPTY);
  index_.assign(buckets, EMPTY);
  mask_ = buckets - 1;
  shift_ = 64 - static_cast<unsigned>(std::countr_zero(buckets));
  for (size_t i = 0; i < size_; ++i) index_entry(static_cast<uint32_t>(i));
}

void VariableMap::index_entry(uint32_t slot) {
  size_t b = bucket(data_[slot].hash);
  while (index_[b] != EMPTY) b = (b + 1) & mask_;
  index_[b] = slot;
}

template <class MakeKey>
void VariableMap::append(const PackedVarId& packed, uint64_t hash, const Decimal& value, MakeKey&& make_key) {
  if (size_ == capacity_) grow(std::max(capacity_ * 2, reserved_));
  new (&data_[size_]) Entry{quick_form(packed), hash, value, make_key()};
  ++size_;
  if (size_ <= SMALL) {
    const size_t home = small_home(hash);
    if (small_index_[home] == SMALL_EMPTY) {
      small_index_[home] = static_cast<uint8_t>((size_ - 1) * ENTRY_WORDS);
    } else {
      place_small();
    }
  } else {
    if (index_.empty() || size_ * 2 > index_.size()) {
      build_index(std::bit_ceil(size_ * 4));
    } else {
      index_entry(static_cast<uint32_t>(size_ - 1));
    }
  }
}

void VariableMap::insert_or_assign(VarId key, const Decimal& value, uint64_t hash) {
  const PackedVarId packed = pack_var_id(key);
  if (Decimal* existing = const_cast<Decimal*>(find_slow(key, packed, hash))) {
    *existing = value;
    return;
  }
  append(packed, hash, value, [&] { return std::move(key); });
}

void VariableMap::insert_or_assign_name(std::string_view name, const Decimal& value) {
  if (name.size() > 16) {  // a long name is compared as a whole: the general path
    insert_or_assign(VarId::name(name), value);
    return;
  }
  const PackedVarId packed = pack_name(name);
  const uint64_t hash = VarId::name_hash(name);
  // The key itself is read only for long names: any key will do here.
  static const VarId unused;
  if (Decimal* existing = const_cast<Decimal*>(find_slow(unused, packed, hash))) {
    *existing = value;
    return;
  }
  append(packed, hash, value, [&] { return VarId(VarId::NameText{name}); });
}

void VariableMap::insert_new_name(std::string_view name, const Decimal& value) {
  append(pack_name(name), VarId::name_hash(name), value, [&] { return VarId(VarId::NameText{name}); });
}

}  // namespace vexlor
