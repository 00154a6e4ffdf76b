// The engine's progress reporting: the host's callback, throttled, and its cancel.
#include <algorithm>

#include "Platform.h"
#include "RuntimeOptions.h"
#include "TKXEngineInterno.h"

namespace kx {

using namespace facade;

TKXEngine& TKXEngine::ResetProgress() {
  lCanceled = false;
  lProgressDefinitive = true;
  lProgressNotified = false;
  nProgressLine = 0;
  nProgressTotal = static_cast<int64_t>(aRegLine.Len());
  nProgressPages = 0;
  nProgressLastTime = 0.0;
  return *this;
}

bool TKXEngine::NotifyProgress(const Value& line, const Value& total, const Value& pages,
                               bool forced) {
  if (lCanceled) return false;
  const Callable* callback = bProgressCallback.CallablePtr();
  if (!callback) return true;
  auto count = [](const Value& v) { return std::max<int64_t>(0, IntPart(ValueNumber(v)).Int()); };
  int64_t nTotal = count(total);
  int64_t nLine = std::max(nProgressLine, std::min(nTotal, count(line)));
  int64_t nPages = std::max(nProgressPages, count(pages));
  double now = platform::MillisecondClock();
  nProgressLine = nLine;
  nProgressTotal = nTotal;
  nProgressPages = nPages;
  if (!forced && lProgressNotified && now - nProgressLastTime < kIntervaloProgresoMs) return true;
  nProgressLastTime = now;
  lProgressNotified = true;
  Value args[3] = {Value(nLine), Value(nTotal), Value(nPages)};
  Value answer;
  try {
    answer = callback->Call(args);
  } catch (...) {
    // A host callback that throws must not take the run down: it counts as "go on".
    answer = Value(true);
  }
  if (answer.IsLogical() && !answer.Bool()) lCanceled = true;
  return !lCanceled;
}

Value TKXEngine::ApplyProgressOptions(Value& options) {
  if (!bProgressCallback.IsCallable() || !options.IsMap()) return options;
  options.Set(opcion::lProgressActive, true);
  options.Set(
      opcion::bProgressRecord, Value::Function([this](std::span<const Value> args) {
        Value n = args.empty() ? Value() : args[0];
        Value line = lProgressDefinitive ? n : Value(nProgressLine);
        return Value(NotifyProgress(line, Value(nProgressTotal), Value(nProgressPages), false));
      }));
  options.Set(
      opcion::bProgressPage, Value::Function([this](std::span<const Value> args) {
        Value n = args.empty() ? Value() : args[0];
        Value pages = lProgressDefinitive ? n : Value(nProgressPages);
        return Value(NotifyProgress(Value(nProgressLine), Value(nProgressTotal), pages, false));
      }));
  return options;
}

Ref<TDocumentoRenderizable> TKXEngine::FinishProgress(Ref<TDocumentoRenderizable> document) {
  if (lCanceled) {
    if (document) document->End();
    return nullptr;
  }
  if (!document) return nullptr;
  if (!NotifyProgress(Value(nProgressTotal), Value(nProgressTotal), Value(document->TotalPaginas()),
                      true)) {
    document->End();
    return nullptr;
  }
  return document;
}

}  // namespace kx
