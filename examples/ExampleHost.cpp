#include "ExampleHost.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kx::examples {

namespace {

// A typed value {"tipo", "valor"} stands for its "valor".
Value Plain(const Value& v) {
  return v.IsMap() && v.Has("valor") ? v.Get("valor") : v;
}

Value PlainFields(const Value& fields) {
  Value out = Value::NewMap();
  if (const Map* m = fields.MapPtr()) {
    for (const Map::Entry& e : *m) out.Set(e.key.Str(), Plain(e.value));
  }
  return out;
}

// Millimetres with at most two decimals, without trailing zeros.
std::string Mm(const Value& v) {
  double d = std::round(ValueDouble(v) * 100.0) / 100.0;
  std::string s = FormatFixed(d, 2);
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

// A text on one line, quoted: line breaks as \n, long texts cut.
std::string Quoted(std::string_view text, size_t limit = 70) {
  std::string out = "\"";
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    // Count characters, not bytes, so a cut never splits one.
    if ((c & 0xC0) != 0x80 && ++chars > limit) {
      out += "...";
      break;
    }
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '"') {
      out += "\\\"";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Sides(const Value& o) {
  std::string s;
  if (o.Get("bordeSuperior").Bool()) s += 'T';
  if (o.Get("bordeDerecho").Bool()) s += 'R';
  if (o.Get("bordeInferior").Bool()) s += 'B';
  if (o.Get("bordeIzquierdo").Bool()) s += 'L';
  return s.empty() ? "-" : s;
}

// Bytes a base64 data URI carries.
size_t DataUriBytes(std::string_view uri) {
  size_t comma = uri.find(',');
  if (comma == std::string_view::npos) return 0;
  std::string_view payload = uri.substr(comma + 1);
  size_t pad = 0;
  while (!payload.empty() && payload.back() == '=') {
    payload.remove_suffix(1);
    ++pad;
  }
  return (payload.size() + pad) / 4 * 3 - pad;
}

std::string Barcode(const Value& o) {
  std::string s = ValueString(o.Get("barcodeTipo")) + " " + Quoted(o.Get("texto").Str());
  if (o.Has("error")) return s + " error=" + Quoted(o.Get("error").Str());
  if (o.Has("bits")) {
    return s + " " + std::to_string(o.Get("bits").Str().size()) + " modules + quiet " +
           Mm(o.Get("margenIzquierdoModulos")) + "/" + Mm(o.Get("margenDerechoModulos"));
  }
  const Value& rows = o.Get("matriz");
  size_t width = rows.Len() > 0 ? rows.AsList()[0].Str().size() : 0;
  return s + " " + std::to_string(rows.Len()) + "x" + std::to_string(width) + " modules + quiet " +
         Mm(o.Get("margenModulos"));
}

// A cross table's rows, each its label and its sums in column order ("-"
// for a cell no record reached).
std::string CrossTable(const Value& o) {
  const Map* rows = o.Get("filas").MapPtr();
  const Map* columns = o.Get("columnas").MapPtr();
  if (!rows || !columns) return "";
  std::string s =
      std::to_string(rows->size()) + " rows x " + std::to_string(columns->size()) + " columns:";
  const char* separator = " ";
  for (const Map::Entry& row : *rows) {
    s += separator + Quoted(ValueString(row.value));
    separator = ", ";
    const Value& cells = o.Get("celdas").Get(row.key.Str());
    for (const Map::Entry& column : *columns) {
      const Value& sum = cells.Get(column.key.Str());
      s += ' ' + (sum.IsNil() ? std::string("-") : PlainText(sum));
    }
  }
  return s;
}

std::string Shows(const Value& o) {
  std::string kind = ValueString(o.Get("tipo"));
  if (kind == "texto" || kind == "texto_formateado") {
    std::string s = Quoted(ValueString(o.Get("texto")));
    if (o.Get("negrita").Bool()) s += " bold";
    if (o.Get("formulaError").Bool()) s += " error=" + Quoted(o.Get("formulaErrorMessage").Str());
    return s;
  }
  if (kind == "texto_enriquecido") {
    return ValueString(o.Get("contentFormat")) + " " + Quoted(o.Get("plainContent").Str(), 160);
  }
  if (kind == "rectangulo" || kind == "elipse") {
    return "fill=" + ValueString(o.Get("colorFondo")) +
           " border=" + ValueString(o.Get("colorBorde")) + " " + Sides(o);
  }
  if (kind == "linea") {
    return ValueString(o.Get("color")) + " " + Mm(o.Get("grosor")) + "mm " +
           ValueString(o.Get("orientacion"));
  }
  if (kind == "imagen") {
    if (!o.Get("error").Str().empty()) return "error=" + Quoted(o.Get("error").Str());
    return ValueString(o.Get("mime")) + " " + std::to_string(DataUriBytes(o.Get("dataUri").Str())) +
           " bytes";
  }
  if (kind == "barcode") return Barcode(o);
  if (o.Has("puntos")) return std::to_string(o.Get("puntos").Len()) + " points";
  if (o.Has("celdas")) return CrossTable(o);
  return "";
}

}  // namespace

bool ReadFile(const std::string& path, std::string& text) {
  // Only a regular file, and not a huge one: a FIFO would hold the open until
  // a writer came, a device or a file of the system that never ends would be
  // read until memory runs out.
  constexpr size_t kMaxBytes = size_t{64} << 20;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.clear();
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxBytes) return false;
  }
  return true;
}

void SendData(TKXEngine& engine, const Value& data) {
  if (const Map* groups = data.Get("DataVar").MapPtr()) {
    for (const Map::Entry& g : *groups) engine.SendDataVar(g.key, PlainFields(g.value));
  }
  if (const Map* groups = data.Get("DetalleVar").MapPtr()) {
    for (const Map::Entry& g : *groups) {
      if (const List* rows = g.value.ListPtr()) {
        for (const Value& row : *rows) engine.SendDetalle(g.key, PlainFields(row));
      }
    }
  }
}

std::string DescribeObject(const Value& o) {
  std::ostringstream line;
  line << ValueString(o.Get("tipo"));
  line.width(0);
  std::string kind = line.str();
  if (kind.size() < 17) line << std::string(17 - kind.size(), ' ');
  line << ' ' << ValueString(o.Get("id")) << " @" << Mm(o.Get("x")) << ',' << Mm(o.Get("y")) << ' '
       << Mm(o.Get("ancho")) << 'x' << Mm(o.Get("alto"));
  std::string shows = Shows(o);
  if (!shows.empty()) line << ' ' << shows;
  return line.str();
}

std::string DescribePages(TDocumentoRenderizable& document) {
  std::string out;
  const int64_t pages = document.TotalPaginas();
  for (int64_t n = 1; n <= pages; ++n) {
    Value page = document.GetPagina(Value(n));
    const Value& objects = page.Get("objetos");
    out += "page " + std::to_string(n) + " of " + std::to_string(pages) + ", " +
           Mm(Value(document.nAncho)) + "x" + Mm(Value(document.nAlto)) + " mm, " +
           std::to_string(objects.Len()) + " objects\n";
    if (const List* list = objects.ListPtr()) {
      for (const Value& o : *list) out += "  " + DescribeObject(o) + "\n";
    }
  }
  return out;
}

}  // namespace kx::examples
