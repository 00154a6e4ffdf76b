// The detail records of a run, as the option "aRegistrosDetalleRuntime" holds
// them: a list of `DetailRecord` maps, or the job's rows read as such maps.
//
// A run does not copy a million rows into a million maps that live as long
// as it does: `RegistrosDetalle` holds the job's rows (values by column
// position) and one prototype of the record keys, and answers record i as a
// fresh copy of the prototype, sharing its key table, that holds row i's
// values. Every reader of the option reads it through `ListaRegistros`,
// which answers a plain list's maps and such records alike.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "Value.h"

namespace kx {

class RegistrosDetalle : public KXObject {
 public:
  // `filas`: the rows (a list of lists); `claves`: the record keys in their
  // order; `posiciones`: for each column of a row, the position of its key
  // (columns that share a key: the later column's value stands).
  RegistrosDetalle(Value filas, const std::vector<std::string>& claves,
                   std::vector<uint32_t> posiciones);
  std::string_view ClassName() const override { return "RegistrosDetalle"; }

  size_t size() const { return filas_.Len(); }
  // Record i (below size()): a new map of every key, nothing for a slot the row lacks.
  Value Registro(size_t i) const;
  // The same, made in `reciclado` when that is an earlier record of these
  // records that nobody else holds any more (its values are overwritten).
  Value Registro(size_t i, Value reciclado) const;

 private:
  Value filas_;
  Map prototipo_;  // the keys with nothing as values; copies share its key table
  std::vector<uint32_t> posiciones_;
};

// Read access to the records an option holds: a list (of maps or anything
// else, as a host or a test may give) or the records of a run.
class ListaRegistros {
 public:
  ListaRegistros() = default;
  explicit ListaRegistros(const Value& registros)
      : origen_(registros),
        lista_(registros.ListPtr()),
        registros_(registros.As<RegistrosDetalle>()) {}

  // The value holds records: a list, or the records of a run.
  bool Valida() const { return lista_ || registros_; }
  size_t size() const { return lista_ ? lista_->size() : registros_ ? registros_->size() : 0; }
  bool empty() const { return size() == 0; }
  // Element i (below size()) as the list holds it, or record i of a run.
  Value operator[](size_t i) const { return lista_ ? (*lista_)[i] : registros_->Registro(i); }
  // The same; a record of a run may be made in `reciclado` (see RegistrosDetalle).
  Value Leer(size_t i, Value reciclado) const {
    return lista_ ? (*lista_)[i] : registros_->Registro(i, std::move(reciclado));
  }
  // The value read: identity caches key on it.
  const Value& Origen() const { return origen_; }
  // The records make a map at each reading (the records of a run), rather
  // than hand out one the list holds.
  bool HaceMapas() const { return registros_ != nullptr; }

 private:
  Value origen_;
  const List* lista_ = nullptr;
  const RegistrosDetalle* registros_ = nullptr;
};

}  // namespace kx
