#include "FailingAllocator.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <stdexcept>

namespace kx::testing {

namespace {

// Constant-initialised: read without a guard by every allocation.
struct State {
  bool lArmado;
  bool lFallo;       // the armed failure came
  uint64_t nFallar;  // the allocation to fail, 0 for none
  uint64_t nContadas;
  Falla eFalla;
};
thread_local State tEstado{};

// True when this allocation is the one to fail.
bool ToFail() {
  State& s = tEstado;
  if (!s.lArmado) return false;
  ++s.nContadas;
  if (s.nFallar == 0 || s.nContadas != s.nFallar || s.lFallo) return false;
  s.lFallo = true;
  return true;
}

[[noreturn]] void Fail() {
  if (tEstado.eFalla == Falla::kOtra) throw std::runtime_error(kOtraFalla);
  throw std::bad_alloc();
}

void* Allocate(std::size_t size) {
  if (ToFail()) Fail();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
  if (ToFail()) Fail();
  void* p = nullptr;
  const std::size_t a = std::max(sizeof(void*), static_cast<std::size_t>(align));
  if (posix_memalign(&p, a, size ? size : 1) == 0) return p;
  throw std::bad_alloc();
}

}  // namespace

void ArmFailingAllocation(uint64_t n, Falla falla) {
  tEstado = State{true, false, n, 0, falla};
}

bool DisarmFailingAllocation() {
  tEstado.lArmado = false;
  return tEstado.lFallo;
}

uint64_t CountedAllocations() {
  return tEstado.nContadas;
}

Unwatched::Unwatched() : lVigilaba(tEstado.lArmado) {
  tEstado.lArmado = false;
}

Unwatched::~Unwatched() {
  tEstado.lArmado = lVigilaba;
}

}  // namespace kx::testing

using kx::testing::Allocate;
using kx::testing::AllocateAligned;

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t align) {
  return AllocateAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align) {
  return AllocateAligned(size, align);
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  try {
    return AllocateAligned(size, align);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  try {
    return AllocateAligned(size, align);
  } catch (...) {
    return nullptr;
  }
}

void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(p);
}
