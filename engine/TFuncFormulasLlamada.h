// Shared by the files of the function library: one call's arguments, the
// argument conventions every function follows, and the operations that live
// in files of their own (dates and Transform, files). Internal to the library.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "Value.h"

namespace kx {

class TFuncFormulas;

namespace funcformulas {

// One call: the argument values as the evaluator passed them, the library
// that answers it and the function's name for its argument error.
class Llamada {
 public:
  Llamada(TFuncFormulas& lib, std::string_view nombre, std::span<const Value> args,
          const Value& mascara)
      : lib_(lib), nombre_(nombre), args_(args), mascara_(mascara) {}

  // The argument at the 0-based position; a missing one is nothing.
  const Value& operator[](size_t i) const { return i < args_.size() ? args_[i] : kNil; }
  size_t size() const { return args_.size(); }
  // The argument is missing, or nothing: a default stands for it.
  bool Falta(size_t i) const { return (*this)[i].IsNil(); }
  std::span<const Value> Valores() const { return args_; }
  // "[Funcion " name " no valida]".
  Value Error() const;
  TFuncFormulas& Libreria() const { return lib_; }
  // Transform's mask plan resolved when the formula was compiled, or nothing.
  const Value& Mascara() const { return mascara_; }

 private:
  TFuncFormulas& lib_;
  std::string_view nombre_;
  std::span<const Value> args_;
  const Value& mascara_;
};

// The library's text form: nothing "", a text itself, an integral number its
// digits, another number its plain form, true "1", false "", any other value
// its display text, trimmed.
std::string Texto(const Value& v);
// The same as a view: a text's own bytes, else the form written into `buffer`.
std::string_view VerTexto(const Value& v, std::string& buffer);
// The numeric test: a number, or a text that is, fully trimmed, digits, "."
// and "," with an optional leading sign, holding a digit.
bool EsNumero(const Value& v);
// The text form read as a number (a leading number; "," ends it).
Value LeerNumero(const Value& v);
// The integer part of LeerNumero, saturated at the int64 range.
int64_t Entero(const Value& v);

// The tolerant date reader: a date itself, eight digits of a compact date,
// or day/month/year (a year below 100 in the 2000s). 0 when it gives no date.
int32_t LeerFecha(const Value& v);
// DD/MM/YY and DD/MM/YYYY.
std::string FechaVisible(int32_t jdn);
std::string FechaLarga(int32_t jdn);

// Operations kept in their own files.
Value FnAddDays(const Llamada& c);
Value FnCToD(const Llamada& c);
Value FnDate(const Llamada& c);
Value FnDateYMD(const Llamada& c);
Value FnDow(const Llamada& c);
Value FnDToC(const Llamada& c);
Value FnDToS(const Llamada& c);
Value FnHour(const Llamada& c);
Value FnMonth(const Llamada& c);
Value FnSToD(const Llamada& c);
Value FnYear(const Llamada& c);
Value FnTransform(const Llamada& c);
Value FnLoadFile(const Llamada& c);
Value FnMemoRead(const Llamada& c);

}  // namespace funcformulas
}  // namespace kx
