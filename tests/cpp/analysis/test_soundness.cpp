// Randomised soundness: random formulas, random domains, inputs drawn inside
// them (edges included); every run's error must be listed, its gas within the
// bound, its value inside the result's interval and scales. Also counts how
// often a failure that occurred was listed with a witness.
// VEXLOR_SOUNDNESS_FORMULAS sets the number of formulas (default 3000).

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "analysis/analyze.hpp"
#include "analysis/witness.hpp"
#include "compiler/compiler.hpp"
#include "vm/vm.hpp"

namespace vexlor::analysis {
namespace {

class Gen {
 public:
  explicit Gen(uint64_t seed) : rng_(seed) {}
  size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  int64_t between(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng_); }

  std::string constant() {
    static const char* const pool[] = {"0", "1", "2", "3", "0.5", "0.1", "100", "1.25", "0.001", "12.50", "-1",
                                       "1000000", "0.0000001", "79228162514264337593543950335", "3.14159",
                                       "10000000000000000000000", "7", "0.00"};
    return pool[below(std::size(pool))];
  }
  std::string expr(int depth) {
    const size_t pick = depth <= 0 ? below(2) : below(14);
    static const char* const vars[] = {"a", "b", "c"};
    switch (pick) {
      case 0: return constant();
      case 1: return vars[below(3)];
      case 2: return "-(" + expr(depth - 1) + ")";
      case 3: return "not " + atom(depth - 1);
      case 4: case 5: case 6: case 7: {
        static const char* const ops[] = {"+", "-", "*", "/", "//", "%", "+", "*", "-", "/"};
        return atom(depth - 1) + " " + ops[below(std::size(ops))] + " " + atom(depth - 1);
      }
      case 8: {
        static const char* const exps[] = {"0", "1", "2", "3", "-1", "0.5", "2.0", "10", "a"};
        return atom(depth - 1) + " ^ " + exps[below(std::size(exps))];
      }
      case 9: {
        static const char* const cmp[] = {"<", "<=", ">", ">=", "==", "!=", "and", "or"};
        return atom(depth - 1) + " " + cmp[below(std::size(cmp))] + " " + atom(depth - 1);
      }
      case 10: return atom(depth - 1) + " ? " + atom(depth - 1) + " : " + atom(depth - 1);
      case 11: {  // a branch on a variable against a constant, guarding a division
        static const char* const cmp[] = {"<", "<=", ">", ">=", "==", "!="};
        const std::string v = vars[below(3)];
        const std::string c = constant();
        std::string cond = below(2) ? v + " " + cmp[below(6)] + " " + c : c + " " + cmp[below(6)] + " " + v;
        static const char* const joins[] = {" and ", " or "};
        if (below(3) == 0) cond = "(" + cond + ")" + joins[below(2)] + "(" + vars[below(3)] + " " + cmp[below(6)] + " " + constant() + ")";
        if (below(4) == 0) cond = "not (" + cond + ")";
        return "(" + cond + ") ? (" + expr(depth - 1) + " / " + v + ") : (" + expr(depth - 1) + " % (" + v + " - " +
               c + "))";
      }
      default: {
        static const char* const fns[] = {"abs", "floor", "ceil", "round", "sqrt", "max", "min",
                                          "sum", "mul", "average", "add", "round"};
        const std::string fn = fns[below(std::size(fns))];
        size_t n = 1;
        if (fn == "max" || fn == "min" || fn == "sum" || fn == "mul" || fn == "average" || fn == "add") n = below(4);
        if (fn == "round") n = 1 + below(2);
        std::string s = fn + "(";
        for (size_t i = 0; i < n; ++i) s += (i ? ", " : "") + expr(depth - 1);
        return s + ")";
      }
    }
  }
  std::string atom(int depth) {
    std::string s = "(";
    s += expr(depth);
    s += ")";
    return s;
  }

  // A random domain and a sampler for it.
  struct Dom {
    bool any = false;
    int64_t lo = 0, hi = 0;  // at scale 0
    uint8_t min_scale = 0, max_scale = 0;
  };
  Dom domain() {
    Dom d;
    switch (below(6)) {
      case 0: d.any = true; return d;
      case 1: d.lo = d.hi = between(-5, 5); break;
      case 2: d.lo = 0; d.hi = between(0, 1000); break;
      default: {
        const int64_t m = std::vector<int64_t>{1, 10, 1000, 1000000, 1000000000000}[below(5)];
        d.lo = between(-m, m);
        d.hi = between(d.lo, m);
      }
    }
    d.min_scale = static_cast<uint8_t>(below(3));
    d.max_scale = static_cast<uint8_t>(d.min_scale + below(4));
    return d;
  }
  Decimal sample(const Dom& d, bool edge) {
    if (d.any) {
      static const char* const pool[] = {"0", "-0", "1", "-1", "0.5", "79228162514264337593543950335",
                                         "-79228162514264337593543950335", "0.0000000000000000000000000001",
                                         "123456789.123456789", "-2.5", "1000000000000000", "3", "7.00"};
      return *Decimal::from_str(pool[below(std::size(pool))]);
    }
    const uint32_t s = static_cast<uint32_t>(d.min_scale + below(d.max_scale - d.min_scale + 1));
    const int64_t p = static_cast<int64_t>(POW10_U64[s]);
    int64_t n;
    if (edge) {
      n = below(2) ? d.lo * p : d.hi * p;
      if (below(3) == 0 && d.lo <= 0 && d.hi >= 0) n = 0;
    } else {
      n = between(d.lo * p, d.hi * p);
    }
    return Decimal::new_(n, s);
  }

 private:
  std::mt19937_64 rng_;
};

bool listed(const Report& r, const VmError& e, size_t* index) {
  const FailureKind k = e.kind() == VmError::Kind::RuntimeError && e.message() == LOOP_LIMIT_MESSAGE
                            ? FailureKind::LoopLimit
                            : static_cast<FailureKind>(static_cast<uint8_t>(e.kind()));
  const std::string msg = evaluate_message(e);
  for (size_t i = 0; i < r.failures.size(); ++i) {
    const auto& f = r.failures[i];
    if (f.kind == k && (f.prefix ? msg.rfind(f.message, 0) == 0 : msg == f.message)) {
      *index = i;
      return true;
    }
  }
  return false;
}

TEST(Soundness, RandomFormulasAndDomains) {
  const char* env = std::getenv("VEXLOR_SOUNDNESS_FORMULAS");
  const size_t formulas = env ? std::strtoull(env, nullptr, 10) : 3000;
  const char* seed = std::getenv("VEXLOR_SOUNDNESS_SEED");
  Gen g(seed ? std::strtoull(seed, nullptr, 10) : 20261208);
  size_t violations = 0, failed_formulas = 0, witnessed = 0, runs = 0;
  const std::vector<std::string> names = {"a", "b", "c"};
  std::string last_reported;
  for (size_t f = 0; f < formulas; ++f) {
    const std::string text = g.expr(1 + static_cast<int>(g.below(4)));
    const auto program = compile_str(text, 64);
    ASSERT_TRUE(program.ok()) << text;
    Gen::Dom doms[3];
    std::vector<VarDomain> vd;
    for (size_t i = 0; i < 3; ++i) {
      doms[i] = g.domain();
      if (!doms[i].any)
        vd.push_back(VarDomain{names[i],
                               Interval::range(Decimal::new_(doms[i].lo, 0), Decimal::new_(doms[i].hi, 0),
                                               doms[i].min_scale, doms[i].max_scale, false),
                               {}, false});
    }
    const Report r = analyze(*program, vd);
    bool failed = false;
    std::vector<size_t> seen;
    for (int k = 0; k < 20; ++k) {
      VmContext ctx;
      for (size_t i = 0; i < 3; ++i) ctx.variables.insert_or_assign_name(names[i], g.sample(doms[i], k < 8));
      uint64_t used = 0;
      auto out = run(*program, ctx, ~uint64_t{0} - 1, &used);
      ++runs;
      std::string why;
      if (r.gas && *r.gas != ~uint64_t{0} && used > *r.gas) why = "gas " + std::to_string(used);
      size_t at = 0;
      if (!out.ok()) {
        if (out.error().kind() == VmError::Kind::OutOfGas) continue;
        if (!listed(r, out.error(), &at)) why = "unlisted " + out.error().to_string();
        failed = true;
        seen.push_back(at);
      } else {
        const Decimal v = out.value();
        if (!r.has_result || v.cmp(r.result.lo) < 0 || v.cmp(r.result.hi) > 0) why = "value " + v.to_string();
        if (r.has_result && (v.scale() < r.result.min_scale || v.scale() > r.result.max_scale))
          why = "scale of " + v.to_string();
        if (r.has_result && v.is_zero() && v.is_sign_negative() && !r.result.neg_zero) why = "negative zero";
      }
      if (!why.empty()) {
        ++violations;
        if (violations < 40 && text != last_reported) {
          last_reported = text;
          std::string in;
          ctx.variables.for_each([&](const VarId& id, const Decimal& x) { in += id.display() + "=" + x.to_string() + " "; });
          ADD_FAILURE() << text << " | " << in << "| " << why << " | result [" << r.result.lo.to_string() << ", "
                        << r.result.hi.to_string() << "] scales " << int(r.result.min_scale) << ".."
                        << int(r.result.max_scale);
        }
      }
    }
    if (failed) {
      ++failed_formulas;
      const auto w = find_witnesses(*program, names, vd, r.failures, 400);
      bool all = true;
      for (size_t i : seen) all = all && w[i] != nullptr;
      if (all) ++witnessed;
      if (!all && std::getenv("VEXLOR_SOUNDNESS_SHOW_MISSES")) {
        std::string missing;
        for (size_t i : seen)
          if (w[i] == nullptr) missing += r.failures[i].message + "; ";
        std::printf("no witness: %s | %s\n", text.c_str(), missing.c_str());
      }
    }
  }
  EXPECT_EQ(violations, 0u);
  if (failed_formulas > 0) {
    EXPECT_GE(witnessed * 10, failed_formulas * 9);
  }
  std::printf("soundness: %zu formulas, %zu runs, %zu violations; %zu formulas failed, %zu with witnesses\n",
              formulas, runs, violations, failed_formulas, witnessed);
}

}  // namespace
}  // namespace vexlor::analysis
