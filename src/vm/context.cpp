#include "vm/context.hpp"

#include <atomic>
#include <bit>
#include <cassert>
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

VariableMap::VariableMap() : seed_(next_map_seed()) {}

void VariableMap::reserve(size_t count) {
  size_t cap = 8;
  while (cap < count * 2) cap *= 2;
  if (cap > slots_.size()) rehash(cap);
}

void VariableMap::rehash(size_t capacity) {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(capacity, Slot{});
  mask_ = capacity - 1;
  shift_ = 64 - static_cast<unsigned>(std::countr_zero(capacity));
  for (Slot& s : old) {
    if (!s.used) continue;
    size_t i = bucket(s.hash);
    while (slots_[i].used) i = (i + 1) & mask_;
    slots_[i] = std::move(s);
  }
}

void VariableMap::insert_or_assign(const VarId& key, const Decimal& value) {
  if ((size_ + 1) * 2 > slots_.size()) rehash(slots_.empty() ? 8 : slots_.size() * 2);
  const uint64_t h = key.hash();
  size_t i = bucket(h);
  while (slots_[i].used) {
    if (slots_[i].hash == h && slots_[i].key == key) {
      slots_[i].value = value;
      return;
    }
    i = (i + 1) & mask_;
  }
  slots_[i].used = true;
  slots_[i].hash = h;
  slots_[i].key = key;
  slots_[i].value = value;
  ++size_;
}

}  // namespace vexlor
