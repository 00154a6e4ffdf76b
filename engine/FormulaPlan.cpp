#include "FormulaPlan.h"

#include <algorithm>

#include "FormulaSyntax.h"

namespace kx {

namespace {

struct NombreOperador {
  std::string_view cTexto;
  OperadorComparacion eOperador;
};

constexpr NombreOperador kOperadores[] = {
    {">=", OperadorComparacion::kMayorIgual}, {"<=", OperadorComparacion::kMenorIgual},
    {"==", OperadorComparacion::kIgual},      {"!=", OperadorComparacion::kDistinto},
    {"<>", OperadorComparacion::kDiferente},  {">", OperadorComparacion::kMayor},
    {"<", OperadorComparacion::kMenor},
};

Value ListaDeMapas(const std::vector<FormulaPlanRef>& hijos) {
  Value lista = Value::NewList();
  lista.AsList().Reserve(hijos.size());
  for (const FormulaPlanRef& h : hijos) lista.Push(h ? h->ToMap() : Value());
  return lista;
}

Value MapaHijo(const std::vector<FormulaPlanRef>& hijos, size_t i) {
  return i < hijos.size() && hijos[i] ? hijos[i]->ToMap() : Value();
}

}  // namespace

bool LeerOperadorComparacion(std::string_view text, OperadorComparacion& op) {
  for (const NombreOperador& n : kOperadores) {
    if (n.cTexto == text) {
      op = n.eOperador;
      return true;
    }
  }
  return false;
}

std::string_view TextoOperadorComparacion(OperadorComparacion op) {
  for (const NombreOperador& n : kOperadores) {
    if (n.eOperador == op) return n.cTexto;
  }
  return "";
}

std::string_view FormulaPlan::TipoTexto() const {
  switch (eTipo_) {
    case TipoPlan::kValue:
      return "value";
    case TipoPlan::kVariable:
      return "variable";
    case TipoPlan::kComparison:
      return "comparison";
    case TipoPlan::kNot:
      return "not";
    case TipoPlan::kAnd:
      return "and";
    case TipoPlan::kOr:
      return "or";
    case TipoPlan::kSum:
      return "sum";
    case TipoPlan::kIf:
      return "if";
    case TipoPlan::kEngineFunction:
      return "engine_function";
    case TipoPlan::kFunction:
      return "function";
    default:
      return "";
  }
}

Ref<FormulaPlan> FormulaPlan::Nuevo(TipoPlan tipo, std::string_view texto) {
  return Ref<FormulaPlan>(new FormulaPlan(tipo, Value(texto)));
}

Ref<FormulaPlan> FormulaPlan::NuevoValor(Value valor, std::string_view texto) {
  Ref<FormulaPlan> n = Nuevo(TipoPlan::kValue, texto);
  n->vValor_ = std::move(valor);
  return n;
}

Ref<FormulaPlan> FormulaPlan::NuevoVariable(std::string_view nombre) {
  Ref<FormulaPlan> n = Nuevo(TipoPlan::kVariable, nombre);
  n->vValor_ = n->cTexto_;
  n->cClave_ = ClaveSinMayusculas(nombre);
  n->lVariableFormula_ = TienePrefijoVariableFormula(nombre);
  std::string cError = StartsWith(n->cClave_, "KX.COLOR.") ? "[Constante KX.Color no soportada: "
                                                           : "[Variable no encontrada: ";
  cError.append(nombre);
  cError.push_back(']');
  n->cError_ = Value(cError);
  return n;
}

Ref<FormulaPlan> FormulaPlan::NuevoError(Value error, std::string_view texto) {
  Ref<FormulaPlan> n = Nuevo(TipoPlan::kError, texto);
  n->vValor_ = std::move(error);
  return n;
}

const FormulaPlanRef& FormulaPlan::HijoIf(size_t i) const {
  static const FormulaPlanRef kNinguno;
  return eTipo_ == TipoPlan::kIf && i < aHijos_.size() ? aHijos_[i] : kNinguno;
}

void FormulaPlan::AgregarHijo(FormulaPlanRef hijo) {
  if (hijo) nAltura_ = std::max(nAltura_, hijo->nAltura_ + 1);
  aHijos_.push_back(std::move(hijo));
}

bool FormulaPlan::CalcularLeeEstado(bool sumas) const {
  bool lee = eTipo_ == TipoPlan::kEngineFunction;
  if (eTipo_ == TipoPlan::kVariable || eTipo_ == TipoPlan::kAtomo) {
    const std::string_view prefijo = AllTrim(Nombre()).substr(0, 4);
    lee = lee || EqualsIgnoreCase(prefijo, "VAR.") || (sumas && EqualsIgnoreCase(prefijo, "SUM."));
  }
  for (const FormulaPlanRef& h : aHijos_) lee = lee || (h && h->LeeEstado(sumas));
  const uint8_t conocido = sumas ? 4 : 1;
  nLeeEstado_ |= conocido | (lee ? conocido << 1 : 0);
  return lee;
}

Value FormulaPlan::ToMap() const {
  Value m = Value::NewMap();
  m.Set("tipo", TipoTexto());
  switch (eTipo_) {
    case TipoPlan::kValue:
      m.Set("valor", vValor_);
      break;
    case TipoPlan::kVariable:
      m.Set("nombre", vValor_);
      break;
    case TipoPlan::kComparison:
      m.Set("left", MapaHijo(aHijos_, 0));
      m.Set("operator", Operador());
      m.Set("right", MapaHijo(aHijos_, 1));
      break;
    case TipoPlan::kNot:
      m.Set("child", MapaHijo(aHijos_, 0));
      break;
    case TipoPlan::kAnd:
    case TipoPlan::kOr:
    case TipoPlan::kSum:
      m.Set("children", ListaDeMapas(aHijos_));
      break;
    case TipoPlan::kIf:
      m.Set("condition", MapaHijo(aHijos_, 0));
      m.Set("true", MapaHijo(aHijos_, 1));
      m.Set("false", MapaHijo(aHijos_, 2));
      break;
    case TipoPlan::kEngineFunction:
      m.Set("name", vValor_);
      m.Set("arguments", DeepClone(aArgumentos_));
      break;
    case TipoPlan::kFunction:
      m.Set("name", vValor_);
      m.Set("children", ListaDeMapas(aHijos_));
      break;
    default:
      m.Set("texto", cTexto_);
      break;
  }
  return m;
}

std::string FormulaPlan::ExprKey() const {
  std::string out;
  AgregarClave(out);
  return out;
}

// The expression text of the map form, written straight from the nodes:
// plans are height-bounded, so no level is cut short as a general value's
// text would be past its depth bound, and deep plans keep distinct keys.
void FormulaPlan::AgregarClave(std::string& out) const {
  auto clave = [&](std::string_view k) {
    out += ", \"";
    out += k;
    out += "\"=>";
  };
  auto hijo = [&](size_t i) {
    if (i < aHijos_.size() && aHijos_[i]) {
      aHijos_[i]->AgregarClave(out);
    } else {
      out += "NIL";
    }
  };
  auto hijos = [&] {
    out += "{";
    for (size_t i = 0; i < aHijos_.size(); ++i) {
      if (i) out += ", ";
      hijo(i);
    }
    out += "}";
  };
  out += "{\"tipo\"=>";
  out += ExprText(Value(TipoTexto()));
  switch (eTipo_) {
    case TipoPlan::kValue:
      clave("valor");
      out += ExprText(vValor_);
      break;
    case TipoPlan::kVariable:
      clave("nombre");
      out += ExprText(vValor_);
      break;
    case TipoPlan::kComparison:
      clave("left");
      hijo(0);
      clave("operator");
      out += ExprText(Value(Operador()));
      clave("right");
      hijo(1);
      break;
    case TipoPlan::kNot:
      clave("child");
      hijo(0);
      break;
    case TipoPlan::kAnd:
    case TipoPlan::kOr:
    case TipoPlan::kSum:
      clave("children");
      hijos();
      break;
    case TipoPlan::kIf:
      clave("condition");
      hijo(0);
      clave("true");
      hijo(1);
      clave("false");
      hijo(2);
      break;
    case TipoPlan::kEngineFunction:
      clave("name");
      out += ExprText(vValor_);
      clave("arguments");
      out += ExprText(aArgumentos_);
      break;
    case TipoPlan::kFunction:
      clave("name");
      out += ExprText(vValor_);
      clave("children");
      hijos();
      break;
    default:
      clave("texto");
      out += ExprText(cTexto_);
      break;
  }
  out += "}";
}

Value FormulaPlan::AsValue(const FormulaPlanRef& plan) {
  if (!plan) return Value();
  // Holders only read a plan through its const interface.
  return Value::Object(Ref<KXObject>(const_cast<FormulaPlan*>(plan.get())));
}

FormulaPlanRef FormulaPlan::FromValue(const Value& v) {
  return FormulaPlanRef(v.As<FormulaPlan>());
}

}  // namespace kx
