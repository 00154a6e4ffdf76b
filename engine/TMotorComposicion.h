// The composition engine: asks one report object for its rendered form.
#pragma once

#include "Value.h"

namespace kx {

class TContextoEjecucion;

class TMotorComposicion : public KXObject {
 public:
  // New(options): `Init` with them.
  explicit TMotorComposicion(const Value& opciones = Value()) { Init(opciones); }
  std::string_view ClassName() const override { return "TMotorComposicion"; }

  // Keeps the options (a non-map gives an empty map); not created.
  TMotorComposicion& Init(const Value& opciones);
  // Marks the engine created.
  TMotorComposicion& Create();
  // Empties the options; not created.
  void End();
  // Replaces the options as `Init` does.
  TMotorComposicion& SetOpciones(const Value& opciones);
  // The object's rendered map, list of them, or nothing; an object that is not a report object
  // gives the warning "Objeto sin metodo generarRenderizable." and nothing.
  Value Componer(KXObject* objeto, TContextoEjecucion* contexto);

  Value hOpciones = Value::NewMap();  // kept, never read
  bool lCreated = false;
};

}  // namespace kx
