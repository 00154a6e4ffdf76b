// The warnings of a run: what the execution contexts of the run said, each
// distinct text counted once per occurrence in the work that made the pages.
#include <algorithm>
#include <functional>

#include "TContextoEjecucion.h"
#include "TKXEngineInterno.h"

namespace kx {

namespace facade {

namespace {

uint64_t HashTexto(std::string_view texto) {
  return static_cast<uint64_t>(std::hash<std::string_view>{}(texto));
}

}  // namespace

void RegistroAvisos::Vaciar() {
  aEntradas_.clear();
  hPosiciones_.clear();
}

RegistroAvisos::Entrada& RegistroAvisos::Buscar(uint64_t hash, std::string_view texto) {
  auto [at, nueva] = hPosiciones_.try_emplace(hash, aEntradas_.size());
  if (!nueva) return aEntradas_[at->second];
  Entrada& e = aEntradas_.emplace_back();
  e.nHash = hash;
  if (aEntradas_.size() <= kMaxListados) e.cTexto = texto;
  return e;
}

void RegistroAvisos::Anadir(std::string_view texto) {
  ++Buscar(HashTexto(texto), texto).nVeces;
}

void RegistroAvisos::AnadirContexto(const TContextoEjecucion& contexto) {
  contexto.RecorrerAvisos([&](std::string_view texto) { Anadir(texto); });
}

void RegistroAvisos::Fusionar(const RegistroAvisos& otro, bool repaso) {
  for (const Entrada& e : otro.aEntradas_) {
    const int64_t veces = e.Veces();
    if (veces <= 0) continue;
    Entrada& propia = Buscar(e.nHash, e.cTexto);
    if (repaso) {
      propia.nRepetido = std::max(propia.nRepetido, veces);
    } else {
      propia.nVeces += veces;
    }
  }
}

Value RegistroAvisos::Lista() const {
  Value lista = Value::NewList();
  const size_t listados = std::min(aEntradas_.size(), kMaxListados);
  for (size_t i = 0; i < listados; ++i) {
    const Entrada& e = aEntradas_[i];
    lista.Push(Value::NewMap({{"cAviso", Value(e.cTexto)}, {"nVeces", e.Veces()}}));
  }
  if (aEntradas_.size() > listados) {
    int64_t veces = 0;
    for (size_t i = listados; i < aEntradas_.size(); ++i) veces += aEntradas_[i].Veces();
    const std::string texto =
        "Otros " + std::to_string(aEntradas_.size() - listados) + " avisos distintos";
    lista.Push(Value::NewMap({{"cAviso", Value(texto)}, {"nVeces", veces}}));
  }
  return lista;
}

}  // namespace facade

TKXEngine::Interno::AvisosAparte::~AvisosAparte() {
  in_.pAvisos = pPrevio_;
  // Memory running out here loses these warnings, never the run.
  try {
    pPrevio_->Fusionar(oPropio_, !lPaginas);
  } catch (...) {
  }
}

void TKXEngine::Interno::EmpezarAvisos() {
  oAvisos.Vaciar();
  pAvisos = &oAvisos;
}

Value TKXEngine::GetAvisos() const {
  return oInterno_->oAvisos.Lista();
}

}  // namespace kx
