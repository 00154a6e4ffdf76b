// An allocator that fails when asked to: the test executable that links
// FailingAllocator.cpp replaces the global operator new and delete, and a
// test arms it on its own thread for the one call it watches. Disarmed (and
// on every other thread) it is malloc and free, so the sanitizers still see
// every block come and go.
#pragma once

#include <cstdint>

namespace kx::testing {

// What the failing allocation throws: std::bad_alloc, or, standing for any
// other fault inside the engine, a std::runtime_error saying kOtraFalla.
enum class Falla { kMemoria, kOtra };
inline constexpr const char* kOtraFalla = "falla de prueba";

// From now on this thread's allocations are counted, and the nth of them
// (1-based) throws; the ones after it succeed again, as they would once the
// failed request had unwound and freed its memory. 0 counts without failing.
void ArmFailingAllocation(uint64_t n, Falla falla = Falla::kMemoria);
// Stops counting and failing; answers whether the armed failure came.
bool DisarmFailingAllocation();
// The allocations counted since the allocator was last armed.
uint64_t CountedAllocations();

// While one lives, this thread's allocations are neither counted nor failed:
// a test builds the values it hands the engine under one, so that only the
// engine's own allocations are watched.
class Unwatched {
 public:
  Unwatched();
  ~Unwatched();
  Unwatched(const Unwatched&) = delete;
  Unwatched& operator=(const Unwatched&) = delete;

 private:
  bool lVigilaba;
};

// Arms the allocator for its life and disarms it at its end, so that a
// failing assertion or an exception cannot leave it armed.
class FailingAllocation {
 public:
  explicit FailingAllocation(uint64_t n, Falla falla = Falla::kMemoria) {
    ArmFailingAllocation(n, falla);
  }
  ~FailingAllocation() { DisarmFailingAllocation(); }
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;
  // Disarms now; answers whether the armed failure came.
  bool Came() { return DisarmFailingAllocation(); }
};

}  // namespace kx::testing
