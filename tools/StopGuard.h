// The console program's guard over its stop. A stop signal is seen by the
// program itself between two records it sends, two pages it reads back and
// at the engine's progress reports; but the engine reports at most twice a
// second, some stages of a long run report nothing for seconds, and giving
// back the memory of millions of records takes seconds more. So the program
// spools into a folder of its own, and a watcher thread gives it a short
// grace after a stop signal: when the program has not ended by then, the
// watcher erases that folder, says why and ends the process with
// 128 + the signal.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace kx {

class StopGuard {
 public:
  // The time a program has to end on its own after a stop signal: where it
  // looks for one itself, it does so a millisecond apart; the rest of the
  // half second is for the system to end a process of gigabytes.
  static constexpr std::chrono::milliseconds kGracia{25};

  // Makes the spool folder (in the system temporary folder, named like the
  // spool files, "kxt_ir_..."), makes it the process's temporary folder, and
  // starts the watcher. For the program's start, before it starts threads
  // of its own; without a folder or a thread it guards what it can.
  StopGuard();
  ~StopGuard();
  StopGuard(const StopGuard&) = delete;
  StopGuard& operator=(const StopGuard&) = delete;

  // The program's own end: writes the output and the error lines, erases
  // the spool folder and answers the exit code, which is 128 + the signal
  // when a stop signal has come meanwhile (its reason then added to the
  // error lines). When the watcher is already ending the process, it never
  // returns.
  int Finish(int code, const std::string& out, std::string err);

 private:
  // Who ends the process: nobody yet, the program, or the watcher.
  enum class Estado { kCorriendo, kTerminando, kForzado };

  // The program takes the end over, and the watcher stops; false when the
  // watcher has taken it already.
  bool Terminar();
  void Vigilar();
  void BorrarCarpeta() noexcept;

  std::string cCarpeta;  // the spool folder, "" when none could be made
  std::mutex oMutex;
  std::condition_variable oAviso;
  Estado eEstado = Estado::kCorriendo;  // under oMutex
  std::thread oVigia;
};

}  // namespace kx
