#include "TMotorComposicion.h"

#include "TContextoEjecucion.h"
#include "TObjectBase.h"

namespace kx {

TMotorComposicion& TMotorComposicion::Init(const Value& opciones) {
  hOpciones = opciones.IsMap() ? opciones : Value::NewMap();
  lCreated = false;
  return *this;
}

TMotorComposicion& TMotorComposicion::Create() {
  lCreated = true;
  return *this;
}

void TMotorComposicion::End() {
  hOpciones = Value::NewMap();
  lCreated = false;
}

TMotorComposicion& TMotorComposicion::SetOpciones(const Value& opciones) {
  hOpciones = opciones.IsMap() ? opciones : Value::NewMap();
  return *this;
}

Value TMotorComposicion::Componer(KXObject* objeto, TContextoEjecucion* contexto) {
  TObjectBase* report = dynamic_cast<TObjectBase*>(objeto);
  if (report && contexto) return report->GenerarRenderizable(*contexto);
  if (!report && contexto) contexto->AddAviso(Value("Objeto sin metodo generarRenderizable."));
  // Without a context an object can neither test its visibility nor evaluate its formulas.
  return Value();
}

}  // namespace kx
