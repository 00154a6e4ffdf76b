// Formulas: any text parses and evaluates over a small fixed variable set to
// a value or to an error value, by every road a template takes (value, text,
// condition, compiled plan evaluated twice).
#include "FuzzSupport.h"
#include "TEvaluadorFormulas.h"

using namespace kx;

namespace {

Value Variables() {
  return JsonDecode(R"({"DET.NOMBRE": "año", "DET.IMPORTE": 1234.50, "DET.CANTIDAD": 3,
      "DET.TIPO": "A", "DET.NOTA": "ver [1]", "DET.VACIO": null, "DET.LOGICO": true,
      "CLIENTE.NOMBRE": "Ana", "x": 5, "a": 10,
      "VAR.doble": "DET.CANTIDAD * 2", "VAR.ciclo": "VAR.ciclo + 1", "SUM.total": 9})");
}

Value Options() {
  Value options = JsonDecode(R"({
      "hUserVars": {"doble": {"tipo": "numerico", "formula": "DET.CANTIDAD * 2"},
                    "ciclo": {"tipo": "numerico", "formula": "VAR.ciclo + 1"}},
      "hAcumVars": {"total": {"tipo": "numerico", "formula": "DET.IMPORTE"}},
      "aRegistrosDetalleRuntime": [
        {"DET.NOMBRE": "uno", "DET.IMPORTE": 10.5, "DET.CANTIDAD": 1, "DET.TIPO": "A"},
        {"DET.NOMBRE": "dos", "DET.IMPORTE": 20.25, "DET.CANTIDAD": 2, "DET.TIPO": "B"},
        {"DET.NOMBRE": "tres", "DET.IMPORTE": -3, "DET.CANTIDAD": 3, "DET.TIPO": "A"}],
      "hAskStringValues": {"Cliente?": "Ana"},
      "hPaginacionPorClaveRuntime": {"zona": [1, 2]},
      "cProjectFilePath": "lbl/x.lbl", "cProjectPath": "lbl", "cProjectFileName": "x.lbl"})");
  // The records' dates come from the host, never from JSON.
  options.Get("aRegistrosDetalleRuntime").AsList()[0].Set("DET.FECHA", Value::DateYMD(2025, 1, 31));
  return options;
}

Value State() {
  Value state = JsonDecode(R"({"nPaginaActual": 2, "nTotalPaginas": 3,
      "lTotalPaginasConocido": true, "nIndiceRegistro": 1, "nTotalRegistros": 3,
      "hRegistroAnterior": {"DET.NOMBRE": "uno", "DET.TIPO": "A"},
      "hRegistroSiguiente": {"DET.NOMBRE": "tres", "DET.TIPO": "A"},
      "hPaginacionPorClave": {"zona": [1, 2]}})");
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PrivateFolder();  // file functions find nothing relative
  static const Value vars = [] {
    Value v = Variables();
    v.Set("DET.FECHA", Value::DateYMD(2025, 1, 31));
    return v;
  }();
  const Value formula(fuzz::Text(data, size));
  TEvaluadorFormulas ev(Value::NewMap());
  ev.Create();
  ev.SetOpciones(Options());
  ev.SetEstadoEjecucion(State());
  fuzz::Touch(ev.Evaluar(formula, vars));
  fuzz::Touch(ev.EvaluarTexto(formula, vars));
  fuzz::Touch(ev.EvaluarCondicion(formula, vars));
  const FormulaPlanRef plan = ev.CompileFormulaPlan(formula);
  const Value first = ev.EvaluateFormulaPlan(plan, vars);
  const Value second = ev.EvaluateFormulaPlan(plan, vars);
  fuzz::Touch(first);
  fuzz::Touch(second);
  ev.End();
  return 0;
}
