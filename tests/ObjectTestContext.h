// A real execution context for report object tests: an empty record
// connector and a formula evaluator, with the given run options.
#pragma once

#include <string_view>

#include "Json.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TEvaluadorFormulas.h"
#include "TObjectBase.h"
#include "Value.h"

namespace kx {

struct ObjectTestContext {
  explicit ObjectTestContext(const Value& opciones = Value::NewMap())
      : conector(MakeRef<TConectorDatosReg>()), evaluador(MakeRef<TEvaluadorFormulas>()) {
    conector->Create();
    evaluador->Create();
    contexto = MakeRef<TContextoEjecucion>(conector, evaluador, opciones);
    contexto->Create();
  }
  ~ObjectTestContext() {
    contexto->End();
    evaluador->End();
    conector->End();
  }

  // The reasons recorded for the objects left out, in order.
  std::vector<std::string> Motivos() const {
    std::vector<std::string> out;
    if (const List* l = contexto->GetDescartados().ListPtr())
      for (const Value& d : *l) out.push_back(ValueString(d.Get("motivo")));
    return out;
  }
  // The warnings, in order.
  std::vector<std::string> Avisos() const {
    std::vector<std::string> out;
    if (const List* l = contexto->GetAvisos().ListPtr())
      for (const Value& w : *l) out.push_back(ValueString(w));
    return out;
  }

  Ref<TConectorDatosReg> conector;
  Ref<TEvaluadorFormulas> evaluador;
  Ref<TContextoEjecucion> contexto;
};

// A report object loaded from a template and created, rendered in a context whose local
// variables are the given JSON map.
template <class T>
struct RenderedObject {
  explicit RenderedObject(std::string_view templateJson, std::string_view variables = "{}",
                          TReportNode* parent = nullptr)
      : object(parent) {
    object.Load(JsonDecode(templateJson));
    object.Create();
    ctx.contexto->PushVariablesLocales(JsonDecode(variables));
  }
  Value Render() { return object.GenerarRenderizable(*ctx.contexto); }

  ObjectTestContext ctx;
  T object;
};

}  // namespace kx
