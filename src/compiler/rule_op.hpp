#pragma once
// The instruction of a grammar rule that reduces to one operator.

#include "compiler/bytecode.hpp"
#include "parser/driver.hpp"

namespace vexlor {

// Rules of one- and two-operand operators only.
inline OpKind rule_op(lalr::Rule rule) {
  switch (rule) {
    case lalr::Rule::DisjunctionOr: return OpKind::Or;
    case lalr::Rule::ConjunctionAnd: return OpKind::And;
    case lalr::Rule::ComparisonEq: return OpKind::Eq;
    case lalr::Rule::ComparisonNe: return OpKind::Ne;
    case lalr::Rule::ComparisonLt: return OpKind::Lt;
    case lalr::Rule::ComparisonLe: return OpKind::Le;
    case lalr::Rule::ComparisonGt: return OpKind::Gt;
    case lalr::Rule::ComparisonGe: return OpKind::Ge;
    case lalr::Rule::AdditiveAdd: return OpKind::Add;
    case lalr::Rule::AdditiveSub: return OpKind::Sub;
    case lalr::Rule::MultiplicativeMul: return OpKind::Mul;
    case lalr::Rule::MultiplicativeDiv: return OpKind::Div;
    case lalr::Rule::MultiplicativeFloorDiv: return OpKind::FloorDiv;
    case lalr::Rule::MultiplicativeMod: return OpKind::Mod;
    case lalr::Rule::UnaryPos: return OpKind::Pos;
    case lalr::Rule::UnaryNeg: return OpKind::Neg;
    case lalr::Rule::UnaryNot: return OpKind::Not;
    default: return OpKind::Pow;  // lalr::Rule::ExponentPow
  }
}

}  // namespace vexlor
