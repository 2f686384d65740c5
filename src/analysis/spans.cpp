#include "analysis/spans.hpp"

#include <utility>

#include "analysis/span_sink.hpp"
#include "compiler/compiler.hpp"

namespace vexlor {

Expected<std::vector<InstructionSpan>, std::string> instruction_spans(std::string_view text, size_t max_depth,
                                                                      Program& program) {
  auto compiled = compile_str(text, max_depth);
  if (!compiled.ok()) return unexpected(std::move(compiled.error()));
  Program rebuilt;
  std::vector<InstructionSpan> spans;
  span_sink::NoObserver observer;
  span_sink::SpanSink<> sink(rebuilt, spans, observer);
  lalr::Driver<span_sink::SpanSink<>> driver(text, sink);
  auto root = driver.run();
  if (!root.ok() || !(rebuilt == *compiled) || spans.size() != rebuilt.size()) {
    return unexpected(std::string("Internal error: the instructions' source spans could not be found"));
  }
  program = std::move(*compiled);
  return spans;
}

Expected<std::vector<InstructionSpan>, std::string> instruction_spans(std::string_view text, size_t max_depth) {
  Program program;
  return instruction_spans(text, max_depth, program);
}

}  // namespace vexlor
