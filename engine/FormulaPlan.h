// A formula plan: an immutable tree built once from a formula text, which the
// formula evaluator walks for every evaluation instead of splitting texts again.
//
// Compiled kinds are the ones `CompileFormulaPlan` answers; their map form
// (`ToMap`) has the keys callers may read: "value", "variable", "comparison",
// "not", "and", "or", "sum", "if", "engine_function", "function". The
// remaining kinds are the evaluator's own form of texts that do not compile:
// they keep the rules of the interpreter (conditions, arithmetic, the IIf
// error) and never stand at the root of a compiled plan.
//
// Invariants:
//  - a plan never changes after it is built; what changes are memos that
//    depend on nothing but the text: a node's last key position in a variable
//    map (validated with `Map::KeyVersion`) and the routes of the argument
//    texts of an engine function, so a plan answers alike in any evaluator;
//  - children are built from shorter texts, so plans hold no cycles;
//  - `Altura()` (the height of the tree) never exceeds kMaxAlturaPlan.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Value.h"

namespace kx {

class FormulaPlan;
// The handle by which holders keep a plan: shared and read-only.
using FormulaPlanRef = Ref<const FormulaPlan>;

// Deeper formulas answer an invalid-expression error instead of a plan.
inline constexpr int kMaxAlturaPlan = 128;

enum class TipoPlan : uint8_t {
  kValue,
  kVariable,
  kComparison,
  kNot,
  kAnd,
  kOr,
  kSum,
  kIf,
  kEngineFunction,
  kFunction,
  // Interpreted forms.
  kAtomo,         // an atom looked up as a variable, with "@" fallbacks and its error
  kNoCondicion,   // NOT of a condition
  kYCondiciones,  // .AND. of conditions
  kOCondiciones,  // .OR. of conditions
  kAritmetica,    // a chain of "-", "*" and "/"
  kIIfCondicion,  // IIF whose first argument is judged as a condition
  kCondicion,     // a text judged as a condition (blank holds, truth words, "[" is invalid)
  kError,         // a fixed error value
};

enum class OperadorComparacion : uint8_t {
  kMayorIgual,
  kMenorIgual,
  kIgual,
  kDistinto,
  kDiferente,
  kMayor,
  kMenor
};

// The operator of a comparison text, or false when it is none.
bool LeerOperadorComparacion(std::string_view text, OperadorComparacion& op);
std::string_view TextoOperadorComparacion(OperadorComparacion op);

class FormulaPlan final : public KXObject {
 public:
  std::string_view ClassName() const override { return "FormulaPlan"; }

  // The kind of the node.
  TipoPlan Tipo() const { return eTipo_; }
  // The map form's "tipo": "value", "if", ... ("" for interpreted kinds).
  std::string_view TipoTexto() const;
  // A "value" node's fixed value.
  const Value& Valor() const { return vValor_; }
  // A "variable" node's name, or a function node's normalised name.
  std::string_view Nombre() const { return vValor_.Str(); }
  // A "comparison" node's operator text.
  std::string_view Operador() const { return TextoOperadorComparacion(eOperador_); }
  // Children in order: operands, parts, arguments, or condition, true, false.
  const std::vector<FormulaPlanRef>& Hijos() const { return aHijos_; }
  // An "if" node's branches; a null handle for other kinds.
  const FormulaPlanRef& Condition() const { return HijoIf(0); }
  const FormulaPlanRef& TrueBranch() const { return HijoIf(1); }
  const FormulaPlanRef& FalseBranch() const { return HijoIf(2); }
  // An "engine_function" node's argument texts, unevaluated (a list).
  const Value& Argumentos() const { return aArgumentos_; }
  // The text the node was built from.
  std::string_view Texto() const { return cTexto_.Str(); }
  // Height of the tree below and including this node.
  int Altura() const { return nAltura_; }
  // Its value may depend on the evaluator's execution state (page, record, neighbours): it
  // calls an engine function, or reads a "VAR." name (or, with `sumas`, a "SUM." name), whose
  // text may be evaluated as a formula that calls one.
  bool LeeEstado(bool sumas) const {
    // Asked per evaluation: answered from the node once known.
    const uint8_t conocido = sumas ? 4 : 1;
    if (nLeeEstado_ & conocido) return nLeeEstado_ & (conocido << 1);
    return CalcularLeeEstado(sumas);
  }

  // The map form: "tipo" and the keys of its kind, in their order.
  Value ToMap() const;
  // The expression text of the map form, at any depth: equal plans, and only
  // they, give equal keys.
  std::string ExprKey() const;

  // A plan carried in a Value (an object), and back; nothing / null otherwise.
  static Value AsValue(const FormulaPlanRef& plan);
  static FormulaPlanRef FromValue(const Value& v);

 private:
  friend class TEvaluadorFormulas;

  // The last answer of a lookup of this node's name in a variable map.
  struct CachePosicion {
    uint64_t nVersion = UINT64_MAX;  // no map has this version
    size_t nPos = Map::npos;         // npos: the name is absent
    bool lExacta = false;            // found under exactly the name
  };

  FormulaPlan(TipoPlan tipo, Value texto) : eTipo_(tipo), cTexto_(std::move(texto)) {}
  static Ref<FormulaPlan> Nuevo(TipoPlan tipo, std::string_view texto);
  static Ref<FormulaPlan> NuevoValor(Value valor, std::string_view texto);
  // A "variable" node, with its lookup key and the error of a missing name.
  static Ref<FormulaPlan> NuevoVariable(std::string_view nombre);
  static Ref<FormulaPlan> NuevoError(Value error, std::string_view texto);
  const FormulaPlanRef& HijoIf(size_t i) const;
  void AgregarHijo(FormulaPlanRef hijo);
  void AgregarClave(std::string& out) const;
  bool CalcularLeeEstado(bool sumas) const;

  TipoPlan eTipo_;
  OperadorComparacion eOperador_ = OperadorComparacion::kIgual;
  uint8_t nCodigo_ = 0;  // engine function, library function id, or a condition's fixed answer
  bool lVariableFormula_ = false;  // the name begins with VAR. or SUM.
  int nAltura_ = 1;
  Value cTexto_;
  Value vValor_;        // value; name; error text of kError
  Value cError_;        // the error of a missing variable or of an IIf
  std::string cClave_;  // the name trimmed and upper-cased
  std::vector<FormulaPlanRef> aHijos_;
  Value aArgumentos_;              // argument texts; operand texts of kAritmetica
  Value vPlanMascara_;             // kFunction: the plan of a literal Transform mask
  std::vector<char> aOperadores_;  // kAritmetica: the operator before each operand
  mutable CachePosicion oPosicion_;
  // LeeEstado once known: bit 1 known, bit 2 the answer; bits 4 and 8 the same with sums.
  mutable uint8_t nLeeEstado_ = 0;
  mutable std::vector<FormulaPlanRef> aRutas_;  // routes of the argument texts
};

}  // namespace kx
