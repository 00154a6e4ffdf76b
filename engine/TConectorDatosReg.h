// The data connector of every run: fed with the job's positional input
// buffers (field definitions plus value rows matched to them by position),
// it holds them as a RawDataMap of typed values and answers the connector
// variables and the detail records, both cached until the next send.
//
// A `DetailRecord` is a flat map group "." field -> plain value, one entry
// per field of its row, in field order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TConectorDatos.h"

namespace kx {

class TConectorDatosReg : public TConectorDatos {
 public:
  explicit TConectorDatosReg(const Value& ignored = Value()) { TConectorDatosReg::Init(ignored); }
  std::string_view ClassName() const override { return "TConectorDatosReg"; }

  // Empty data, default groups, cursor 0, no caches; the argument is ignored.
  TConectorDatosReg& Init(const Value& ignored) override;
  // Nothing more: this connector reads no file.
  TConectorDatosReg& Create() override { return *this; }
  // Back to the empty data, cursor 0 and no caches.
  void End() override;
  // Replaces the variables with the definitions and the first row of aRegVar.
  TConectorDatosReg& SendDataVar(const Value& aStructVar, const Value& aRegVar);
  // Replaces the detail rows; resets the cursor.
  TConectorDatosReg& SendDataLine(const Value& aStructLine, const Value& aRegLine);
  // All variables plus the fields of the first detail record, cached (read, never change).
  Value GetVariables() override;
  // Every detail record, group after group, cached (read, never change).
  Value GetRegistrosDetalle() override;
  // Cursor := 0.
  TConectorDatosReg& ResetLine();
  // Cursor := cursor + 1.
  TConectorDatosReg& NextLine();
  // The cursor is at or past the row count.
  bool EofLine() const;
  // The number of rows as handed over.
  int64_t GetTotalLine() const;
  // The record at the cursor, or an empty map outside the records.
  Value GetCurrentLine();
  // The current record's value of a field (a name without "." gets the cursor's group), else
  // the default.
  Value GetLineValue(const Value& nombre, const Value& defecto = Value());
  // A "DataVar" variable by its dotted name (a bare name is also tried in "DATOS"), else the
  // default.
  Value GetVarValue(const Value& nombre, const Value& defecto = Value());

  std::string cGrupoVarDefecto = "DATOS";
  std::string cGrupoLineDefecto = "LINEAS";
  std::string cGrupoLineActual = "LINEAS";
  int64_t nIndiceLineActual = 0;
  Value hVariablesCache;
  Value aRegistrosDetalleCache;

 private:
  // The detail definitions as last normalised: the page loop sends the same
  // list before every chunk, and it is normalised again only when it, an
  // element, a key or a value of an element, or the default group changed.
  struct EstructuraVista {
    Value lista;
    std::string cGrupo;
    std::vector<const Map*> aElementos;
    std::vector<uint64_t> aVersiones;
    std::vector<Value> aValores;  // every element's values, in order
    Value aDefiniciones;
    std::vector<size_t> aPosiciones;
    bool Vigente(const Value& struc, const std::string& grupo) const;
    void Tomar(const Value& struc, const std::string& grupo);
  };
  EstructuraVista oEstructuraLine_;
};

}  // namespace kx
