#include "FormulaSyntax.h"

#include <algorithm>

#include "Value.h"

namespace kx {

namespace {

// Follows quoted runs and nesting over a text, one character at a time.
class Escaner {
 public:
  // Feeds one character; answers whether it stood at top level.
  bool Avanzar(char c) {
    if (cComilla_ != 0) {
      if (c == cComilla_) cComilla_ = 0;
      return false;
    }
    switch (c) {
      case '"':
      case '\'':
        cComilla_ = c;
        return false;
      case '(':
        ++nNivel_;
        return false;
      case ')':
        if (nNivel_ > 0) --nNivel_;
        return false;
      default:
        return nNivel_ == 0;
    }
  }

 private:
  char cComilla_ = 0;
  int nNivel_ = 0;
};

bool EsBlanco(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

char Mayuscula(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

bool EsCaracterIdentificador(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '$';
}

// Tried in this order at every position: the first that matches splits.
constexpr std::string_view kOperadoresComparacion[] = {">=", "<=", "==", "!=", "<>", ">", "<"};

// The length of the comparison operator at the start of the text, or 0.
size_t LongitudOperadorComparacion(std::string_view text) {
  for (std::string_view op : kOperadoresComparacion) {
    if (text.substr(0, op.size()) == op) return op.size();
  }
  return 0;
}

// The length of ".AND." or ".OR." (in any case) at the start of the text, or 0.
size_t LongitudOperadorLogico(std::string_view text) {
  for (std::string_view op : {std::string_view(".AND."), std::string_view(".OR.")}) {
    if (text.size() >= op.size() && EqualsIgnoreCase(text.substr(0, op.size()), op)) {
      return op.size();
    }
  }
  return 0;
}

}  // namespace

std::string_view QuitarParentesisExternos(std::string_view text) {
  std::string_view t = AllTrim(text);
  if (t.size() < 2 || t.front() != '(' || t.back() != ')') return t;
  // Where each leading opener is first closed, found in one scan, so that
  // peeling thousands of layers stays linear.
  size_t nLideres = 0;
  for (size_t i = 0; i < t.size() && (t[i] == '(' || EsBlanco(t[i])); ++i) nLideres += t[i] == '(';
  std::vector<size_t> aCierre(nLideres, std::string_view::npos);
  char cComilla = 0;
  size_t nNivel = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    char c = t[i];
    if (cComilla != 0) {
      if (c == cComilla) cComilla = 0;
    } else if (c == '"' || c == '\'') {
      cComilla = c;
    } else if (c == '(') {
      ++nNivel;
    } else if (c == ')' && nNivel > 0) {
      --nNivel;
      if (nNivel < nLideres && aCierre[nNivel] == std::string_view::npos) aCierre[nNivel] = i;
    }
  }
  size_t l = 0, r = t.size() - 1;
  for (size_t k = 0; k < nLideres && l < r && t[l] == '(' && t[r] == ')' && aCierre[k] == r; ++k) {
    ++l;
    --r;
    while (l <= r && EsBlanco(t[l])) ++l;
    while (r >= l && t[r] == ' ') --r;
    if (l > r) return {};
  }
  return t.substr(l, r - l + 1);
}

size_t LongitudPrefijoNot(std::string_view t) {
  if (t.size() >= 4 && EqualsIgnoreCase(t.substr(0, 4), "NOT ")) return 4;
  if (t.size() >= 5 && EqualsIgnoreCase(t.substr(0, 5), ".NOT.")) return 5;
  return !t.empty() && t[0] == '!' ? 1 : 0;
}

bool AnidamientoExcede(std::string_view t, size_t limit) {
  // Per open parenthesis, the state of the part it stands in. The stack
  // never holds more than `limit` entries.
  struct Parte {
    size_t nBase;
    size_t nCadena;
  };
  std::vector<Parte> pila;
  size_t nBase = 0;     // levels around the current part
  size_t nCadena = 0;   // NOTs and comparisons chained in the current part
  bool lInicio = true;  // a NOT here starts or goes on with the chain
  char cComilla = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (cComilla != 0) {
      if (c == cComilla) cComilla = 0;
      continue;
    }
    if (EsBlanco(c)) continue;
    const std::string_view resto = t.substr(i);
    size_t n = 0;
    if (c == '(') {
      pila.push_back({nBase, nCadena});
      nBase += nCadena + 1;
      nCadena = 0;
      lInicio = true;
    } else if (c == ')') {
      if (!pila.empty()) {
        nBase = pila.back().nBase;
        nCadena = pila.back().nCadena;
        pila.pop_back();
      }
      lInicio = false;
    } else if (c == ',' || c == ';' || (n = LongitudOperadorLogico(resto)) != 0) {
      // A new part: an argument, or an operand of .AND. or .OR.
      nCadena = 0;
      lInicio = true;
    } else if ((n = LongitudOperadorComparacion(resto)) != 0) {
      ++nCadena;  // the right operand holds the rest of the chain
      lInicio = true;
    } else if (lInicio && (n = LongitudPrefijoNot(resto)) != 0) {
      ++nCadena;
    } else {
      if (c == '"' || c == '\'') cComilla = c;
      lInicio = false;
    }
    if (n > 1) i += n - 1;
    if (nBase + nCadena > limit) return true;
  }
  return false;
}

bool ParentesisExternosEnvuelvenTodo(std::string_view text) {
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return false;
  char cComilla = 0;
  long nNivel = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (cComilla != 0) {
      if (c == cComilla) cComilla = 0;
    } else if (c == '"' || c == '\'') {
      cComilla = c;
    } else if (c == '(') {
      ++nNivel;
    } else if (c == ')') {
      --nNivel;
      if (nNivel == 0 && i + 1 < text.size()) return false;
    }
  }
  return nNivel == 0;
}

std::vector<std::string_view> SepararPorOperadorLogico(std::string_view text, std::string_view op) {
  std::vector<std::string_view> aPartes;
  Escaner escaner;
  size_t nInicio = 0;
  for (size_t i = 0; i < text.size();) {
    if (escaner.Avanzar(text[i]) && text.size() - i >= op.size() &&
        EqualsIgnoreCase(text.substr(i, op.size()), op)) {
      aPartes.push_back(AllTrim(text.substr(nInicio, i - nInicio)));
      i += op.size();
      nInicio = i;
      continue;
    }
    ++i;
  }
  aPartes.push_back(AllTrim(text.substr(nInicio)));
  return aPartes;
}

std::optional<Comparacion> SepararComparacion(std::string_view text) {
  Escaner escaner;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!escaner.Avanzar(text[i])) continue;
    if (size_t n = LongitudOperadorComparacion(text.substr(i))) {
      return Comparacion{AllTrim(text.substr(0, i)), text.substr(i, n),
                         AllTrim(text.substr(i + n))};
    }
  }
  return std::nullopt;
}

std::vector<std::string_view> SepararTopLevel(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> aPartes;
  Escaner escaner;
  size_t nInicio = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (escaner.Avanzar(text[i]) && separators.find(text[i]) != std::string_view::npos) {
      aPartes.push_back(AllTrim(text.substr(nInicio, i - nInicio)));
      nInicio = i + 1;
    }
  }
  aPartes.push_back(AllTrim(text.substr(nInicio)));
  return aPartes;
}

std::vector<std::string_view> SepararPorSuma(std::string_view text) {
  return SepararTopLevel(text, "+");
}

std::vector<ParAritmetico> SepararPorOperadoresAritmeticos(std::string_view text,
                                                           std::string_view operators,
                                                           bool signRule) {
  std::vector<ParAritmetico> aPares;
  Escaner escaner;
  size_t nInicio = 0;
  char cOperador = '\0';
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (!escaner.Avanzar(c) || operators.find(c) == std::string_view::npos) continue;
    if (signRule && c == '-' && IsBlank(text.substr(nInicio, i - nInicio))) continue;
    aPares.emplace_back(text.substr(nInicio, i - nInicio), cOperador);
    cOperador = c;
    nInicio = i + 1;
  }
  if (aPares.empty()) return aPares;
  aPares.emplace_back(text.substr(nInicio), cOperador);
  std::vector<ParAritmetico> aQuedan;
  for (const auto& [cOperando, cOp] : aPares) {
    std::string_view t = AllTrim(cOperando);
    if (!t.empty()) aQuedan.emplace_back(t, cOp);
  }
  return aQuedan;
}

std::vector<ParAritmetico> SepararPorResta(std::string_view text) {
  return SepararPorOperadoresAritmeticos(text, "-", true);
}

std::vector<std::string_view> SepararArgumentos(std::string_view text) {
  if (IsBlank(text)) return {};
  return SepararTopLevel(text, ",;");
}

std::optional<LlamadaFuncion> EsLlamadaFuncion(std::string_view text) {
  std::string_view t = AllTrim(text);
  size_t p = t.find('(');
  if (p == std::string_view::npos || p < 1 || t.back() != ')') return std::nullopt;
  std::string_view cNombre = t.substr(0, p);
  if (!IsIdentifier(cNombre)) return std::nullopt;
  return LlamadaFuncion{cNombre, t.substr(p + 1, t.size() - p - 2)};
}

std::string NormalizarNombreFuncion(std::string_view name) {
  std::string cNombre = Upper(AllTrim(name));
  bool lDolar = !cNombre.empty() && cNombre.back() == '$';
  if (lDolar) cNombre.pop_back();
  if (cNombre == "MID") return "SUBSTR";
  if (cNombre == "ATRIM") return "ALLTRIM";
  if (cNombre == "FSTR") return "TRANSFORM";
  if (cNombre == "DATE" && lDolar) return "DTOC";
  return cNombre;
}

bool IsIdentifier(std::string_view text) {
  std::string_view t = AllTrim(text);
  if (t.empty()) return false;
  for (char c : t) {
    if (!EsCaracterIdentificador(c)) return false;
  }
  return true;
}

bool EsLiteralTextoCompleto(std::string_view text) {
  if (text.size() < 2 || (text[0] != '"' && text[0] != '\'')) return false;
  const char q = text[0];
  for (size_t i = 1; i < text.size(); ++i) {
    if (text[i] != q) continue;
    if (i + 1 < text.size() && text[i + 1] == q) {
      ++i;  // an escaped quote
      continue;
    }
    return i == text.size() - 1;
  }
  return false;
}

bool EsNumerico(std::string_view text) {
  std::string_view t = AllTrim(text);
  if (t.empty()) return false;
  bool lDigito = false;
  for (size_t i = 0; i < t.size(); ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      lDigito = true;
    } else if (c != '.' && c != ',' && !(i == 0 && (c == '+' || c == '-'))) {
      return false;
    }
  }
  return lDigito;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string KXTARUNESCAPEFORMULALITERAL(std::string_view body, char quote) {
  const char doble[2] = {quote, quote};
  std::string cTexto = ReplaceAll(body, std::string_view(doble, 2), std::string_view(&quote, 1));
  std::string out;
  out.reserve(cTexto.size());
  for (size_t i = 0; i < cTexto.size(); ++i) {
    char c = cTexto[i];
    if (c != '\\' || i + 1 == cTexto.size()) {
      out.push_back(c);
      continue;
    }
    char e = cTexto[++i];
    out.push_back(e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e);
  }
  return out;
}

std::optional<bool> ValorBooleanoCondicion(std::string_view text) {
  static constexpr std::string_view kVerdad[] = {"TRUE", ".T.", "T", "YES", "SI", "S\xC3\x8D", "1"};
  static constexpr std::string_view kFalso[] = {"FALSE", ".F.", "F", "NO", "0", ""};
  std::string_view t = AllTrim(text);
  if (t.size() > 5) return std::nullopt;  // longer than every truth word
  char buf[5];
  for (size_t i = 0; i < t.size(); ++i) buf[i] = Mayuscula(t[i]);
  std::string_view u(buf, t.size());
  for (std::string_view w : kVerdad) {
    if (u == w) return true;
  }
  for (std::string_view w : kFalso) {
    if (u == w) return false;
  }
  return std::nullopt;
}

bool TienePrefijoVariableFormula(std::string_view name) {
  std::string_view t = AllTrim(name);
  if (t.size() < 4) return false;
  std::string_view p = t.substr(0, 4);
  return EqualsIgnoreCase(p, "VAR.") || EqualsIgnoreCase(p, "SUM.");
}

bool NombraVariableFormula(std::string_view name) {
  return (!name.empty() && name.front() == '@') || TienePrefijoVariableFormula(name);
}

namespace {

const std::string_view kFuncionesPaginacion[] = {"pages(",  "totalpages(",   "lastpage(",
                                                 "pageby(", "totalpagesby(", "lastpageby("};

std::string SinEspacios(std::string_view text) {
  std::string s = Lower(text);
  s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
  return s;
}

// Every paging function's name holds "page": a text without it, in any case
// and with any spaces between its letters, calls none of them.
bool PuedeNombrarPagina(std::string_view text) {
  static constexpr std::string_view kPage = "page";
  for (size_t i = 0; i < text.size(); ++i) {
    if ((text[i] | 0x20) != 'p') continue;
    size_t k = 1;
    for (size_t j = i + 1; j < text.size() && k < kPage.size(); ++j) {
      if (text[j] == ' ') continue;
      if ((text[j] | 0x20) != kPage[k]) break;
      ++k;
    }
    if (k == kPage.size()) return true;
  }
  return false;
}

}  // namespace

bool UsaFuncionPaginacion(std::string_view text) {
  if (!PuedeNombrarPagina(text)) return false;
  const std::string s = SinEspacios(text);
  for (std::string_view f : kFuncionesPaginacion) {
    if (s.find(f) != std::string::npos) return true;
  }
  return false;
}

bool UsaUltimaPagina(std::string_view text) {
  return PuedeNombrarPagina(text) && SinEspacios(text).find("lastpage(") != std::string::npos;
}

bool AlgunTexto(const Value& v, bool (*prueba)(std::string_view), int profundidad) {
  if (profundidad < 0) return false;
  if (v.IsText()) return prueba(v.Str());
  if (const Map* m = v.MapPtr()) {
    for (const Map::Entry& e : *m)
      if (AlgunTexto(e.value, prueba, profundidad - 1)) return true;
  } else if (const List* l = v.ListPtr()) {
    for (const Value& e : *l)
      if (AlgunTexto(e, prueba, profundidad - 1)) return true;
  }
  return false;
}

bool EsPruebaUltimaPaginaSola(std::string_view text) {
  const std::string s = SinEspacios(text);
  if (s.find("lastpage(") == std::string::npos) return false;
  for (std::string_view f : kFuncionesPaginacion) {
    if (f != "lastpage(" && s.find(f) != std::string::npos) return false;
  }
  return true;
}

std::string ClaveSinMayusculas(std::string_view text) {
  return Upper(AllTrim(text));
}

bool CoincideSinMayusculas(std::string_view key, std::string_view upperTrimmed) {
  std::string_view t = AllTrim(key);
  if (t.size() != upperTrimmed.size()) return false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (Mayuscula(t[i]) != upperTrimmed[i]) return false;
  }
  return true;
}

}  // namespace kx
