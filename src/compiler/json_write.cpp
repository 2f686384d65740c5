// The JSON writer: one compact text, written into a buffer reserved up front.

#include <charconv>
#include <cstring>
#include <optional>

#include "compiler/compiler.hpp"

namespace vexlor {
namespace {

// Upper bound of the escaped length of a string (at most 6 bytes per byte).
size_t escaped_bound(std::string_view s) { return s.size() * 6; }

size_t size_bound(const OpCode& op) {
  switch (op.kind()) {
    case OpKind::PushConst:
      return 16 + 32;  // {"PushConst":""} + the text
    case OpKind::LoadVar:
      return op.var().is_uuid() ? 24 + 36 : 24 + escaped_bound(op.var().name_text());
    case OpKind::Jump:
    case OpKind::JumpIfFalse:
      return 17 + 20;
    case OpKind::Call:
      return 14 + escaped_bound(op.call_name()) + 20;
    default:
      return op.name().size() + 2;
  }
}

// Appends raw bytes to a string whose capacity is already sufficient.
class Out {
 public:
  explicit Out(std::string& s, size_t bound) : s_(s), start_(s.size()) {
    s_.resize(start_ + bound);
    p_ = s_.data() + start_;
  }
  ~Out() { s_.resize(static_cast<size_t>(p_ - s_.data())); }

  void put(char c) { *p_++ = c; }
  void put(std::string_view t) {
    std::memcpy(p_, t.data(), t.size());
    p_ += t.size();
  }
  void put_size(size_t n) { p_ = std::to_chars(p_, p_ + 20, n).ptr; }
  void put_decimal(const Decimal& d) {
    size_t extra_zeros = 0;
    p_ += d.to_str_internal(true, std::nullopt, p_, extra_zeros);
  }
  void put_escaped(std::string_view t) {
    static constexpr char HEX[] = "0123456789abcdef";
    for (unsigned char c : t) {
      if (c >= 0x20 && c != '"' && c != '\\') {
        *p_++ = static_cast<char>(c);
        continue;
      }
      *p_++ = '\\';
      switch (c) {
        case '"': *p_++ = '"'; break;
        case '\\': *p_++ = '\\'; break;
        case 0x08: *p_++ = 'b'; break;
        case 0x09: *p_++ = 't'; break;
        case 0x0A: *p_++ = 'n'; break;
        case 0x0C: *p_++ = 'f'; break;
        case 0x0D: *p_++ = 'r'; break;
        default:
          put("u00");
          *p_++ = HEX[c >> 4];
          *p_++ = HEX[c & 0xF];
      }
    }
  }
  void put_uuid(const UuidBytes& b) {
    static constexpr char HEX[] = "0123456789abcdef";
    for (size_t i = 0; i < 16; ++i) {
      if (i == 4 || i == 6 || i == 8 || i == 10) *p_++ = '-';
      *p_++ = HEX[b[i] >> 4];
      *p_++ = HEX[b[i] & 0xF];
    }
  }

 private:
  std::string& s_;
  size_t start_;
  char* p_;
};

}  // namespace

void write_json(const Program& program, std::string& out) {
  size_t bound = 2;
  for (const OpCode& op : program) bound += size_bound(op) + 1;
  Out w(out, bound);
  w.put('[');
  bool first = true;
  for (const OpCode& op : program) {
    if (!first) w.put(',');
    first = false;
    switch (op.kind()) {
      case OpKind::PushConst:
        w.put("{\"PushConst\":\"");
        w.put_decimal(op.constant());
        w.put("\"}");
        break;
      case OpKind::LoadVar:
        if (op.var().is_uuid()) {
          w.put("{\"LoadVar\":{\"Uuid\":\"");
          w.put_uuid(op.var().uuid_bytes());
        } else {
          w.put("{\"LoadVar\":{\"Name\":\"");
          w.put_escaped(op.var().name_text());
        }
        w.put("\"}}");
        break;
      case OpKind::Jump:
      case OpKind::JumpIfFalse:
        w.put("{\"");
        w.put(op.name());
        w.put("\":");
        w.put_size(op.target());
        w.put('}');
        break;
      case OpKind::Call:
        w.put("{\"Call\":[\"");
        w.put_escaped(op.call_name());
        w.put("\",");
        w.put_size(op.arg_count());
        w.put("]}");
        break;
      default:
        w.put('"');
        w.put(op.name());
        w.put('"');
    }
  }
  w.put(']');
}

std::string write_json(const Program& program) {
  std::string out;
  write_json(program, out);
  return out;
}

}  // namespace vexlor
