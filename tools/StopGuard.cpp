#include "StopGuard.h"

#include <kxengine/Platform.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "LastPageOverflow.h"

namespace kx {

namespace {

// How often the watcher looks for a stop signal.
constexpr std::chrono::milliseconds kIntervalo{10};

// An empty folder of the process's own in the system temporary folder, or "".
std::string CrearCarpeta() {
  std::error_code ec;
  std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
  if (ec) tmp = "/tmp";
  std::string pattern = (tmp / "kxt_ir_XXXXXX").string();
  return ::mkdtemp(pattern.data()) ? pattern : "";
}

}  // namespace

StopGuard::StopGuard() : cCarpeta(CrearCarpeta()) {
  // The engine makes its spool files in the system temporary folder, which
  // it looks up each time: from now on, this folder.
  if (!cCarpeta.empty() && ::setenv("TMPDIR", cCarpeta.c_str(), 1) != 0) {
    BorrarCarpeta();
    cCarpeta.clear();
  }
  try {
    oVigia = std::thread([this] { Vigilar(); });
  } catch (const std::exception&) {
    // No watcher: the program's own checks still stop it.
  }
}

StopGuard::~StopGuard() {
  Terminar();
  if (oVigia.joinable()) oVigia.join();
  BorrarCarpeta();
}

int StopGuard::Finish(int code, const std::string& out, std::string err) {
  if (!Terminar()) {
    // The watcher is ending the process.
    for (;;) std::this_thread::sleep_for(kIntervalo);
  }
  if (oVigia.joinable()) oVigia.join();
  // A stop that came while the program ended is still a stop.
  const int signal = platform::StopSignal();
  if (signal != 0 && code != 128 + signal) {
    code = 128 + signal;
    err += StopReason(signal);
  }
  platform::ConsoleWrite(out);
  platform::ConsoleWriteError(err);
  BorrarCarpeta();
  return code;
}

bool StopGuard::Terminar() {
  std::lock_guard<std::mutex> lock(oMutex);
  if (eEstado != Estado::kCorriendo) return false;
  eEstado = Estado::kTerminando;
  oAviso.notify_all();
  return true;
}

void StopGuard::Vigilar() {
  using Reloj = std::chrono::steady_clock;
  bool visto = false;
  Reloj::time_point limite;  // when the grace of the stop signal seen ends
  std::unique_lock<std::mutex> lock(oMutex);
  while (eEstado == Estado::kCorriendo) {
    oAviso.wait_for(lock, kIntervalo);
    if (eEstado != Estado::kCorriendo) return;
    const int signal = platform::StopSignal();
    if (signal == 0) continue;
    if (!visto) {
      visto = true;
      limite = Reloj::now() + kGracia;
    }
    if (Reloj::now() < limite) continue;
    eEstado = Estado::kForzado;
    lock.unlock();
    // Once the folder is gone the engine can make no file in it: nothing
    // of the spool outlives the process.
    BorrarCarpeta();
    platform::ConsoleWriteError(StopReason(signal));
    std::_Exit(128 + signal);
  }
}

void StopGuard::BorrarCarpeta() noexcept {
  if (cCarpeta.empty()) return;
  try {
    // A file the engine makes while the folder is emptied keeps it from
    // going: empty it again.
    std::error_code ec;
    for (int intento = 0; intento < 100 && std::filesystem::exists(cCarpeta, ec); ++intento)
      std::filesystem::remove_all(cCarpeta, ec);
  } catch (...) {
    // Out of memory: the spool goes with the process as far as it can.
  }
}

}  // namespace kx
