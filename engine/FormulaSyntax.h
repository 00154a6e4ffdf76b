// The syntax rules of the formula language: quoted runs and nesting, the
// normalisation of a formula text, the top-level splitters the parser tries
// from the loosest operator to the tightest, and the small tests on atoms.
//
// Formulas are not tokenized. A character stands at top level when it is
// outside quoted runs (a double or a single quote opens a run that ends at the
// next occurrence of the same character) and at nesting depth 0 (an opening
// parenthesis adds one, a closing one subtracts one, never below 0).
//
// Every splitter scans its text once and answers views into it; parts are
// trimmed with the full trim (leading TAB LF CR and spaces, trailing spaces).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Value.h"

namespace kx {

// The text with outer parentheses that wrap it whole removed, trimmed at
// every step: ((a)) gives a, (a) + (b) and (a)) stay. Linear in the text.
std::string_view QuitarParentesisExternos(std::string_view text);

// The text begins with "(" and that parenthesis is closed by its last character.
bool ParentesisExternosEnvuelvenTodo(std::string_view text);

// The length of the NOT prefix the text starts with ("NOT " in any case,
// ".NOT." in any case, or "!"), or 0.
size_t LongitudPrefijoNot(std::string_view text);

// Whether the text nests deeper than `limit` levels: every parenthesis, and
// every prefix NOT and comparison of a chain (a NOT NOT x, a < b < c), opens
// one level, as each opens one level of the parse. One scan, with quoted runs
// respected, that stops at the first level past the limit: a hostile text is
// judged before anything of it is built.
bool AnidamientoExcede(std::string_view text, size_t limit);

// A formula text as the evaluator normalises it: fully trimmed, then outer
// wrapping parentheses removed.
inline std::string_view NormalizarFormula(std::string_view text) {
  return QuitarParentesisExternos(text);
}

// Parts at every top-level occurrence of the operator (".OR.", ".AND."),
// compared without regard to letter case; the last part is always added.
std::vector<std::string_view> SepararPorOperadorLogico(std::string_view text, std::string_view op);

// The first top-level comparison operator and the trimmed texts around it.
struct Comparacion {
  std::string_view cIzquierda;
  std::string_view cOperador;
  std::string_view cDerecha;
};
std::optional<Comparacion> SepararComparacion(std::string_view text);

// Parts at every top-level character among the separators; the last part is
// always added, even when empty.
std::vector<std::string_view> SepararTopLevel(std::string_view text, std::string_view separators);
std::vector<std::string_view> SepararPorSuma(std::string_view text);

// One operand of an arithmetic chain and the operator before it ('\0' for the first).
using ParAritmetico = std::pair<std::string_view, char>;
// The operands of a top-level chain of the operator characters, blank ones
// dropped; empty when no operator closed an operand. With the sign rule a "-"
// met while the current operand is still blank is the operand's sign.
std::vector<ParAritmetico> SepararPorOperadoresAritmeticos(std::string_view text,
                                                           std::string_view operators,
                                                           bool signRule);
std::vector<ParAritmetico> SepararPorResta(std::string_view text);

// Arguments of a call: none for a blank text, else parts at top-level "," and ";".
std::vector<std::string_view> SepararArgumentos(std::string_view text);

// A call: the name before the first "(" (at the second character or later)
// is an identifier and the text ends with ")".
struct LlamadaFuncion {
  std::string_view cNombre;      // as written, before normalisation
  std::string_view cArgumentos;  // from after the first "(" up to the last character
};
std::optional<LlamadaFuncion> EsLlamadaFuncion(std::string_view text);

// Trimmed, upper-cased, without a trailing "$", with the aliases applied.
std::string NormalizarNombreFuncion(std::string_view name);

// Trimmed, not empty, only A-Z a-z 0-9 "_" "." "$".
bool IsIdentifier(std::string_view text);

// A quoted literal that closes exactly at its last character ('It''s').
bool EsLiteralTextoCompleto(std::string_view text);

// Trimmed, not empty, a digit at least, only digits "." and "," after an
// optional leading sign.
bool EsNumerico(std::string_view text);

bool StartsWith(std::string_view text, std::string_view prefix);
bool EndsWith(std::string_view text, std::string_view suffix);

// The text a quoted literal's body stands for: doubled delimiters undoubled,
// then backslash escapes (\n \r \t, any other character stands for itself).
std::string KXTARUNESCAPEFORMULALITERAL(std::string_view body, char quote);

// The logical of a truth word (trimmed, ASCII upper-cased, matched whole),
// or nothing for any other text. A blank text is the false word "".
std::optional<bool> ValorBooleanoCondicion(std::string_view text);

// The text, trimmed, begins with "VAR." or "SUM." in any letter case.
bool TienePrefijoVariableFormula(std::string_view name);

// Each name of a formula text in turn, and whether it is called: a run of A-Z a-z 0-9 "_"
// "." "$" (with the "@" before it, when there is one), called when a "(" follows it after
// blanks. Names inside quoted runs are data and are not given; what follows a quote that is
// never closed is read on as formula text, so that nothing of a doubtful text goes unseen.
// Stops at the first name for which `f(name, called)` answers true, and answers whether one did.
template <class F>
bool AlgunNombreDeFormula(std::string_view text, F&& f) {
  auto deNombre = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '$';
  };
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      const size_t cierre = text.find(c, i + 1);
      i = cierre == std::string_view::npos ? i + 1 : cierre + 1;
      continue;
    }
    if (!deNombre(c) && c != '@') {
      ++i;
      continue;
    }
    size_t fin = i + 1;
    while (fin < n && deNombre(text[fin])) ++fin;
    size_t siguiente = fin;
    while (siguiente < n && (text[siguiente] == ' ' || text[siguiente] == '\t')) ++siguiente;
    if (f(text.substr(i, fin - i), siguiente < n && text[siguiente] == '(')) return true;
    i = fin;
  }
  return false;
}

// The name reads a formula variable, a user variable or a running sum: "VAR." or "SUM." in
// front (in any letter case), or "@".
bool NombraVariableFormula(std::string_view name);

// The text calls a page-count function ("pages(", "totalpages(", "lastpage(",
// "pageby(", "totalpagesby(", "lastpageby("), found in its lower-case form
// with every space removed; "page(" alone is no page count.
bool UsaFuncionPaginacion(std::string_view text);
// The text calls LASTPAGE ("lastpage(", found as UsaFuncionPaginacion finds it).
bool UsaUltimaPagina(std::string_view text);
// Some text of the value, a map or a list searched through to `profundidad` levels, passes
// the test (a template's texts asked whether one calls a function).
bool AlgunTexto(const Value& v, bool (*prueba)(std::string_view), int profundidad);
// The text asks only whether this is the last page: "lastpage(" and no other
// page-count function.
bool EsPruebaUltimaPaginaSola(std::string_view text);

// Full trim and ASCII upper-casing, the form of case-insensitive keys.
std::string ClaveSinMayusculas(std::string_view text);
// The key, trimmed and upper-cased, equals the given form of ClaveSinMayusculas.
bool CoincideSinMayusculas(std::string_view key, std::string_view upperTrimmed);

}  // namespace kx
