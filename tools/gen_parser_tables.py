#!/usr/bin/env python3
"""Generates src/parser/grammar_tables.inc: the LALR(1) automaton of the expression
grammar, without default reductions (every entry that is not a shift, a reduce on
one of its item's lookaheads, or the accept is an error).

    gen_parser_tables.py            rewrite the committed file
    gen_parser_tables.py --check    exit 1 if the committed file differs

Construction: the LR(0) item sets in breadth-first order from the start state, then
the LALR(1) lookaheads of every item by propagation to a fixed point, then the
action and goto tables; any conflict aborts the generation.
"""
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUTPUT = os.path.join(ROOT, "src", "parser", "grammar_tables.inc")

# Terminals in their fixed order (the lexer's indices); EOF follows them.
TERMINALS = ["NUMBER", "UUID", "IDENT", "!=", "%", "(", ")", "*", "+", ",", "-", "/", "//",
             ":", "<", "<=", "==", ">", ">=", "?", "^", "and", "not", "or", "{", "}"]
EOF_SYMBOL = "$end"
NONTERMINALS = ["Expr", "Disjunction", "Conjunction", "Conditional", "Comparison", "Additive",
                "Multiplicative", "Exponent", "Unary", "Primary", "Variable", "Literal", "Args"]

# (rule name, left-hand side, right-hand side); the rule name becomes the driver's
# enumerator that selects the action.
RULES = [
    ("ExprDisjunction", "Expr", ["Disjunction"]),
    ("DisjunctionOr", "Disjunction", ["Conjunction", "or", "Disjunction"]),
    ("DisjunctionConjunction", "Disjunction", ["Conjunction"]),
    ("ConjunctionAnd", "Conjunction", ["Conditional", "and", "Conjunction"]),
    ("ConjunctionConditional", "Conjunction", ["Conditional"]),
    ("ConditionalTernary", "Conditional", ["Comparison", "?", "Comparison", ":", "Conditional"]),
    ("ConditionalComparison", "Conditional", ["Comparison"]),
    ("ComparisonEq", "Comparison", ["Additive", "==", "Additive"]),
    ("ComparisonNe", "Comparison", ["Additive", "!=", "Additive"]),
    ("ComparisonLt", "Comparison", ["Additive", "<", "Additive"]),
    ("ComparisonLe", "Comparison", ["Additive", "<=", "Additive"]),
    ("ComparisonGt", "Comparison", ["Additive", ">", "Additive"]),
    ("ComparisonGe", "Comparison", ["Additive", ">=", "Additive"]),
    ("ComparisonAdditive", "Comparison", ["Additive"]),
    ("AdditiveAdd", "Additive", ["Multiplicative", "+", "Additive"]),
    ("AdditiveSub", "Additive", ["Multiplicative", "-", "Additive"]),
    ("AdditiveMultiplicative", "Additive", ["Multiplicative"]),
    ("MultiplicativeMul", "Multiplicative", ["Exponent", "*", "Multiplicative"]),
    ("MultiplicativeDiv", "Multiplicative", ["Exponent", "/", "Multiplicative"]),
    ("MultiplicativeFloorDiv", "Multiplicative", ["Exponent", "//", "Multiplicative"]),
    ("MultiplicativeMod", "Multiplicative", ["Exponent", "%", "Multiplicative"]),
    ("MultiplicativeExponent", "Multiplicative", ["Exponent"]),
    ("ExponentPow", "Exponent", ["Unary", "^", "Exponent"]),
    ("ExponentUnary", "Exponent", ["Unary"]),
    ("UnaryPos", "Unary", ["+", "Primary"]),
    ("UnaryNeg", "Unary", ["-", "Primary"]),
    ("UnaryNot", "Unary", ["not", "Primary"]),
    ("UnaryPrimary", "Unary", ["Primary"]),
    ("PrimaryLiteral", "Primary", ["Literal"]),
    ("PrimaryVariable", "Primary", ["Variable"]),
    ("PrimaryCall", "Primary", ["IDENT", "(", "Args", ")"]),
    ("PrimaryCallEmpty", "Primary", ["IDENT", "(", ")"]),
    ("PrimaryParens", "Primary", ["(", "Expr", ")"]),
    ("VariableUuid", "Variable", ["{", "UUID", "}"]),
    ("VariableName", "Variable", ["IDENT"]),
    ("LiteralNumber", "Literal", ["NUMBER"]),
    ("ArgsMore", "Args", ["Expr", ",", "Args"]),
    ("ArgsOne", "Args", ["Expr"]),
]
START = "Expr"
EXPECTED_STATES = 68

# Item: (rule index, dot); rule -1 is the augmented start rule  S' -> Expr.


def rhs(rule):
    return [START] if rule < 0 else RULES[rule][2]


def closure(kernel):
    items = list(kernel)
    seen = set(items)
    i = 0
    while i < len(items):
        rule, dot = items[i]
        i += 1
        body = rhs(rule)
        if dot < len(body) and body[dot] in NONTERMINALS:
            for r, (_, lhs, _) in enumerate(RULES):
                if lhs == body[dot] and (r, 0) not in seen:
                    seen.add((r, 0))
                    items.append((r, 0))
    return items


def build_lr0():
    states = [closure([(-1, 0)])]
    index = {frozenset([(-1, 0)]): 0}
    transitions = []
    i = 0
    while i < len(states):
        trans = {}
        symbols = []
        for rule, dot in states[i]:
            body = rhs(rule)
            if dot < len(body) and body[dot] not in symbols:
                symbols.append(body[dot])
        for sym in symbols:
            kernel = [(r, d + 1) for r, d in states[i] if d < len(rhs(r)) and rhs(r)[d] == sym]
            key = frozenset(kernel)
            if key not in index:
                index[key] = len(states)
                states.append(closure(kernel))
            trans[sym] = index[key]
        transitions.append(trans)
        i += 1
    return states, transitions


def first_sets():
    first = {t: {t} for t in TERMINALS}
    for n in NONTERMINALS:
        first[n] = set()
    changed = True
    while changed:  # the grammar has no empty right-hand side
        changed = False
        for _, lhs, body in RULES:
            add = first[body[0]] - first[lhs]
            if add:
                first[lhs] |= add
                changed = True
    return first


def lalr_lookaheads(states, transitions, first):
    la = {(s, item): set() for s, items in enumerate(states) for item in items}
    la[(0, (-1, 0))].add(EOF_SYMBOL)
    changed = True
    while changed:
        changed = False
        for s, items in enumerate(states):
            for item in items:
                rule, dot = item
                body = rhs(rule)
                if dot == len(body):
                    continue
                look = la[(s, item)]
                sym = body[dot]
                target = la[(transitions[s][sym], (rule, dot + 1))]
                if not look <= target:
                    target |= look
                    changed = True
                if sym in NONTERMINALS:
                    follow = first[body[dot + 1]] if dot + 1 < len(body) else look
                    for r, (_, lhs, _) in enumerate(RULES):
                        if lhs == sym:
                            dest = la[(s, (r, 0))]
                            if not follow <= dest:
                                dest |= follow
                                changed = True
    return la


def build_tables():
    states, transitions = build_lr0()
    if len(states) != EXPECTED_STATES:
        sys.exit(f"{len(states)} states, expected {EXPECTED_STATES}")
    la = lalr_lookaheads(states, transitions, first_sets())
    columns = TERMINALS + [EOF_SYMBOL]
    action = []
    for s, items in enumerate(states):
        row = {}

        def put(col, entry):
            if col in row and row[col] != entry:
                sys.exit(f"conflict in state {s} on {col}: {row[col]} / {entry}")
            row[col] = entry

        for rule, dot in items:
            body = rhs(rule)
            if dot < len(body):
                if body[dot] in TERMINALS:
                    put(body[dot], ("shift", transitions[s][body[dot]]))
            elif rule < 0:
                put(EOF_SYMBOL, ("accept", 0))
            else:
                for t in sorted(la[(s, (rule, dot))], key=columns.index):
                    put(t, ("reduce", rule))
        action.append([row.get(c, ("error", 0)) for c in columns])
    goto = [[transitions[s].get(n, 0) for n in NONTERMINALS] for s in range(len(states))]
    return action, goto


def encode(entry):
    kind, arg = entry
    if kind == "shift":
        return str(arg + 1)
    if kind == "reduce":
        return str(-(arg + 1))
    if kind == "accept":
        return "ACCEPT"
    return "0"


def render():
    action, goto = build_tables()
    out = ["// Generated by tools/gen_parser_tables.py from the expression grammar; do not edit.",
           "// LALR(1), no default reductions. ACTION entries: 0 error, s + 1 shift to state s,",
           "// -(r + 1) reduce by rule r, ACCEPT accept. GOTO entries: the target state.",
           "",
           f"inline constexpr int STATE_COUNT = {len(action)};",
           f"inline constexpr int TERMINAL_COUNT = {len(TERMINALS)};  // column TERMINAL_COUNT is end of input",
           f"inline constexpr int NONTERMINAL_COUNT = {len(NONTERMINALS)};",
           "",
           "enum class Nonterminal : uint8_t {"]
    out += [f"    {n}," for n in NONTERMINALS]
    out += ["};", "", "enum class Rule : uint8_t {"]
    for name, lhs, body in RULES:
        out.append(f"    {name},  // {lhs} -> {' '.join(body)}")
    out += ["};", "", "struct RuleShape {", "    Nonterminal lhs;", "    uint8_t length;", "};", "",
            f"inline constexpr RuleShape RULE_SHAPES[{len(RULES)}] = {{"]
    for name, lhs, body in RULES:
        out.append(f"    {{Nonterminal::{lhs}, {len(body)}}},  // {name}")
    out += ["};", "", f"inline constexpr int16_t ACTION[{len(action)}][{len(TERMINALS) + 1}] = {{"]
    for s, row in enumerate(action):
        out.append(f"    /* {s:2} */ {{{', '.join(encode(e) for e in row)}}},")
    out += ["};", "", f"inline constexpr uint8_t GOTO[{len(goto)}][{len(NONTERMINALS)}] = {{"]
    for s, row in enumerate(goto):
        out.append(f"    /* {s:2} */ {{{', '.join(str(v) for v in row)}}},")
    out += ["};", ""]
    return "\n".join(out)


def main():
    text = render()
    if "--check" in sys.argv[1:]:
        with open(OUTPUT, encoding="utf-8") as f:
            if f.read() != text:
                print(f"{OUTPUT} is out of date: run tools/gen_parser_tables.py", file=sys.stderr)
                return 1
        return 0
    with open(OUTPUT, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
