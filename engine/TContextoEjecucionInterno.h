// What the execution context's source files share: the state behind its
// public members (the layered variable sets, the change overlay, version
// counters and remembered key positions) and a number reading.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CapasVariables.h"
#include "TContextoEjecucion.h"

namespace kx {

namespace contexto {

// The integer part of a number, or of the number a text reads as; 0 otherwise.
inline int64_t Entero(const Value& v) {
  return v.IsNumber() ? v.Int() : ValueInt(v);
}

// An accumulator's key as a reset names it: "SUM." put in front unless already there.
inline std::string ClaveAcumulador(std::string_view nombre) {
  return nombre.starts_with("SUM.") ? std::string(nombre) : "SUM." + std::string(nombre);
}

}  // namespace contexto

struct TContextoEjecucion::Estado {
  CapasVariables oCompleto{false};
  CapasVariables oReducido{true};
  CambiosDesordenados oDesordenados;
  uint64_t nVersionOpciones = 1;
  uint64_t nVersionCambios = 1;
  uint64_t nVersionAcumuladores = 1;
  Value hVacio = Value::NewMap();       // layer 1 without a connector; nobody writes it
  Value hSinCambios = Value::NewMap();  // the overlay of a change option that is no list
  // The empty record and page map of the evaluator state: read, never written.
  Value hSinRegistro = Value::NewMap();
  Value hEstadoPlano;  // the plain evaluator state, rewritten before every send
  std::vector<PosicionClave> aPosicionesAcumuladores;  // each plan's key in hAcumuladores
  // Options read for every record.
  PosicionClave oUserVars, oAcumVars, oCambios, oConocido, oPorClave, oModo, oProgresoRegistro;
  // The context evaluated something since the evaluator's resolved formula
  // variables were last cleared.
  bool lResueltasSucias = true;
  // Text id -> the sums in force when it was rendered (see GuardarEstadoTexto),
  // and the latest copy of the sums with the accumulator version it was taken at.
  Value hEstadosTexto = Value::NewMap();
  Value hUltimaPaginaTextos = Value::NewMap();  // see GetUltimaPaginaTextos
  Value hUltimasSumas;
  uint64_t nVersionUltimasSumas = 0;
  // Maps whose key tables later maps of the same keys share (CompartirClaves).
  std::vector<Value> aTablasClaves;
  // Reset names and the accumulator keys they stand for, found once per options version
  // (the accumulator plans change only with the options): a template has a few such names.
  std::vector<std::pair<std::string, std::string>> aClavesReset;
  uint64_t nVersionClavesReset = 0;

  void Olvidar() {
    oCompleto.Olvidar();
    oReducido.Olvidar();
    oDesordenados = CambiosDesordenados();
    ++nVersionOpciones;
    ++nVersionCambios;
    ++nVersionAcumuladores;
    lResueltasSucias = true;
    OlvidarEstadosTexto();
  }
  void OlvidarEstadosTexto() {
    hEstadosTexto = Value::NewMap();
    hUltimaPaginaTextos = Value::NewMap();
    hUltimasSumas = Value();
  }
};

}  // namespace kx
