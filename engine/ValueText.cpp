// Text forms of values, the conversions every module shares, and comparison.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "Value.h"
#include "ValueInterno.h"

namespace kx {

using detail::Append2;
using detail::kMsPerDay;

namespace {

std::string TimeText(int32_t ms) {
  std::string out;
  Append2(out, ms / 3600000);
  out.push_back(':');
  Append2(out, (ms / 60000) % 60);
  out.push_back(':');
  Append2(out, (ms / 1000) % 60);
  return out;
}

}  // namespace

std::string DisplayText(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil:
      return "";
    case Kind::Logical:
      return v.Bool() ? ".T." : ".F.";
    case Kind::Integer:
    case Kind::Real:
      return PlainText(v);
    case Kind::Text:
      return std::string(v.Str());
    case Kind::Date:
    case Kind::Timestamp: {
      if (v.Jdn() == 0) return "  /  /  ";
      int y, m, d;
      YMDFromJdn(v.Jdn(), y, m, d);
      std::string out;
      Append2(out, m);
      out.push_back('/');
      Append2(out, d);
      out.push_back('/');
      Append2(out, y % 100);
      if (v.IsTimestamp()) {
        out.push_back(' ');
        out += TimeText(v.MsOfDay());
      }
      return out;
    }
    default:
      return "";
  }
}

namespace {

void AppendExprText(std::string& out, const Value& v, int depth, std::vector<const Shared*>& path) {
  constexpr int kMaxExprDepth = 200;
  switch (v.kind()) {
    case Kind::Nil:
      out += "NIL";
      return;
    case Kind::Logical:
      out += v.Bool() ? ".T." : ".F.";
      return;
    case Kind::Integer:
    case Kind::Real:
      out += PlainText(v);
      return;
    case Kind::Text: {
      std::string_view s = v.Str();
      bool dq = s.find('"') != std::string_view::npos;
      bool sq = s.find('\'') != std::string_view::npos;
      if (!dq) {
        out.push_back('"');
        out += s;
        out.push_back('"');
      } else if (!sq) {
        out.push_back('\'');
        out += s;
        out.push_back('\'');
      } else if (s.find(']') == std::string_view::npos) {
        out.push_back('[');
        out += s;
        out.push_back(']');
      } else {
        // Both quotes and a closing bracket: an escaped form no other text gives.
        out += "e\"";
        for (char c : s) {
          if (c == '"' || c == '\\') out.push_back('\\');
          out.push_back(c);
        }
        out.push_back('"');
      }
      return;
    }
    case Kind::Date:
      out += "0d" + (v.Jdn() == 0 ? std::string("00000000") : DateCompact(v));
      return;
    case Kind::Timestamp:
      out +=
          "0t" + (v.Jdn() == 0 ? std::string("00000000") : DateCompact(v)) + TimeText(v.MsOfDay());
      return;
    case Kind::List:
    case Kind::Map: {
      const Shared* self = v.SharedPtr();
      if (depth >= kMaxExprDepth || std::find(path.begin(), path.end(), self) != path.end()) {
        out += "{...}";
        return;
      }
      path.push_back(self);
      out.push_back('{');
      if (const List* l = v.ListPtr()) {
        for (size_t i = 0; i < l->size(); ++i) {
          if (i) out += ", ";
          AppendExprText(out, (*l)[i], depth + 1, path);
        }
      } else {
        const Map& m = v.AsMap();
        if (m.empty()) out += "=>";
        for (size_t i = 0; i < m.size(); ++i) {
          if (i) out += ", ";
          AppendExprText(out, m.EntryAt(i).key, depth + 1, path);
          out += "=>";
          AppendExprText(out, m.ValueAt(i), depth + 1, path);
        }
      }
      out.push_back('}');
      path.pop_back();
      return;
    }
    case Kind::Object: {
      char buf[32];
      auto res =
          std::to_chars(buf, buf + sizeof buf, reinterpret_cast<uintptr_t>(v.ObjectPtr()), 16);
      out += "<object ";
      out += v.ObjectPtr()->ClassName();
      out += " 0x";
      out.append(buf, res.ptr);
      out += ">";
      return;
    }
    case Kind::Callable: {
      char buf[32];
      auto res =
          std::to_chars(buf, buf + sizeof buf, reinterpret_cast<uintptr_t>(v.CallablePtr()), 16);
      out += "<callable 0x";
      out.append(buf, res.ptr);
      out += ">";
      return;
    }
  }
}

}  // namespace

std::string ExprText(const Value& v) {
  std::string out;
  std::vector<const Shared*> path;
  AppendExprText(out, v, 0, path);
  return out;
}

std::string ValueString(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil:
      return "";
    case Kind::Text:
      return std::string(v.Str());
    case Kind::Integer:
    case Kind::Real:
      return PlainText(v);
    case Kind::Logical:
      return v.Bool() ? "1" : "";
    case Kind::Date:
      return DateCompact(v);
    default:
      return std::string(AllTrim(DisplayText(v)));
  }
}

std::string FormulaString(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil:
      return "";
    case Kind::Text:
      return std::string(v.Str());
    case Kind::Integer:
      return PlainText(v);
    case Kind::Real: {
      double d = v.Double();
      if (d == std::trunc(d)) return PlainText(IntPart(v));
      return PlainText(v);
    }
    case Kind::Logical:
      return v.Bool() ? "1" : "";
    default:
      return std::string(AllTrim(DisplayText(v)));
  }
}

Value ValueNumber(const Value& v) {
  switch (v.kind()) {
    case Kind::Integer:
    case Kind::Real:
      return v;
    case Kind::Logical:
      return Value(v.Bool() ? 1 : 0);
    case Kind::Text: {
      std::string_view s = v.Str();
      if (s.find(',') == std::string_view::npos) return ReadNumber(s);
      std::string t(s);
      std::replace(t.begin(), t.end(), ',', '.');
      return ReadNumber(t);
    }
    default:
      return Value(0);
  }
}

double ValueDouble(const Value& v) {
  return ValueNumber(v).Double();
}

int64_t ValueInt(const Value& v) {
  return ValueNumber(v).Int();
}

bool ValueBool(const Value& v) {
  switch (v.kind()) {
    case Kind::Logical:
      return v.Bool();
    case Kind::Integer:
    case Kind::Real:
      return v.Double() != 0.0;
    case Kind::Text: {
      std::string t = Lower(AllTrim(v.Str()));
      return TextContains("1.true.t.si.y.yes", t);
    }
    default:
      return false;
  }
}

const Value& HGet(const Value& m, std::string_view key, const Value& def) {
  return m.Get(key, def);
}

bool IsEmpty(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil:
      return true;
    case Kind::Logical:
      return !v.Bool();
    case Kind::Integer:
    case Kind::Real:
      return v.Double() == 0.0;
    case Kind::Text:
      return IsBlank(v.Str());
    case Kind::List:
      return v.ListPtr()->empty();
    case Kind::Map:
      return v.MapPtr()->empty();
    case Kind::Date:
      return v.Jdn() == 0;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// Comparison

namespace {

// -1, 0, 1 for comparable values; 2 when no order exists between them.
int Order(const Value& a, const Value& b) {
  if (a.IsNumber() && b.IsNumber()) {
    if (a.IsInt() && b.IsInt()) return a.Int() < b.Int() ? -1 : (a.Int() > b.Int() ? 1 : 0);
    double x = a.Double(), y = b.Double();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (a.kind() != b.kind()) return 2;
  switch (a.kind()) {
    case Kind::Text: {
      int c = a.Str().compare(b.Str());
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case Kind::Logical:
      return a.Bool() == b.Bool() ? 0 : (a.Bool() ? 1 : -1);
    case Kind::Date:
      return a.Jdn() < b.Jdn() ? -1 : (a.Jdn() > b.Jdn() ? 1 : 0);
    case Kind::Timestamp: {
      int64_t x = int64_t{a.Jdn()} * kMsPerDay + a.MsOfDay();
      int64_t y = int64_t{b.Jdn()} * kMsPerDay + b.MsOfDay();
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    default:
      return 2;
  }
}

}  // namespace

bool Equal(const Value& a, const Value& b) {
  if (a.IsNumber() && b.IsNumber()) return Order(a, b) == 0;
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::Nil:
      return true;
    case Kind::Text:
      return a.Str() == b.Str();
    case Kind::Logical:
    case Kind::Date:
    case Kind::Timestamp:
      return Order(a, b) == 0;
    default:
      return a.SameRef(b);
  }
}

bool Less(const Value& a, const Value& b) {
  return Order(a, b) == -1;
}
bool LessEq(const Value& a, const Value& b) {
  int o = Order(a, b);
  return o == -1 || o == 0;
}
bool Greater(const Value& a, const Value& b) {
  return Order(a, b) == 1;
}
bool GreaterEq(const Value& a, const Value& b) {
  int o = Order(a, b);
  return o == 1 || o == 0;
}

size_t FindInList(const Value& list, const Value& v) {
  const List* l = list.ListPtr();
  if (!l) return 0;
  for (size_t i = 0; i < l->size(); ++i) {
    if (Equal((*l)[i], v)) return i + 1;
  }
  return 0;
}

bool TextContains(std::string_view hay, std::string_view needle) {
  return !needle.empty() && hay.find(needle) != std::string_view::npos;
}

}  // namespace kx
