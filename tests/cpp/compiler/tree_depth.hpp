#pragma once
// The nesting depth of a syntax tree, counted independently of the parser and
// the compiler (a root alone is depth 1). Shared by the compiler's tests and its
// fuzz target.

#include <algorithm>
#include <cstddef>
#include <vector>

#include "parser/parser.hpp"

namespace vexlor::testing_support {

inline size_t depth_of(const Expr& root) {
  struct Item {
    const Expr* node;
    size_t depth;
  };
  size_t deepest = 0;
  std::vector<Item> work{{&root, 1}};
  while (!work.empty()) {
    const Item item = work.back();
    work.pop_back();
    deepest = std::max(deepest, item.depth);
    for (size_t i = 0; i < item.node->child_count(); ++i) work.push_back({&item.node->child(i), item.depth + 1});
  }
  return deepest;
}

}  // namespace vexlor::testing_support
