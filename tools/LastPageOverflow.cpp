#include "LastPageOverflow.h"

#include <kxengine/Json.h>
#include <kxengine/Platform.h>
#include <kxengine/TKXEngine.h>

#include <array>
#include <cmath>
#include <iterator>
#include <memory>
#include <new>
#include <utility>

#include "TConectorDatos.h"

namespace kx {

namespace {

constexpr const char* kProgram = "test_engine_lastpage_overflow";
constexpr const char* kTemplate = "ivacli_Libro_de_Iva_de_Facturas_emitidas_importado_tarvex.lbl";
constexpr const char* kDataFile =
    "ivacli_Libro_de_Iva_de_Facturas_emitidas_importado_tarvex_sample_data.json";
constexpr const char* kSummaryMark = "RESUMEN IMPORTES";

// The sample template and data are made so that this many records give
// exactly this many pages; any other count may give any number of pages.
constexpr int64_t kRegistrosMuestra = 9328;
constexpr int64_t kPaginasMuestra = 170;
// The last records of a job carry the second invoice series.
constexpr int64_t kRegistrosSerieFinal = 11;
// The VAT rates the records take in turn.
constexpr int64_t kTiposIva[] = {0, 4, 5, 10, 21};
// The input asks for a stop signal, and looks whether the engine has
// refused input, once per this many records: well under a millisecond
// apart, at no cost a run can measure.
constexpr int64_t kRegistrosPorLote = 1024;

std::string Seconds(double ms) {
  return FormatFixed(ms / 1000.0, 2);
}

std::string Yes(bool b) {
  return b ? "yes" : "no";
}

bool Contains(const std::string& hay, const std::string& needle) {
  return TextContains(hay, needle);
}

// The sample data file as read, and its detail rows.
struct SampleData {
  std::string cPath;
  bool lRead = false;
  Value data;
  Value rows;
  Value plainRows;  // the rows as records are made from them (SampleLedgerRows)

  size_t Count() const { return rows.IsList() ? rows.Len() : 0; }
};

SampleData LoadSampleData() {
  const char sep = platform::PathSeparator();
  SampleData sample;
  sample.cPath = std::string("lbl") + sep + "demo" + sep + kDataFile;
  std::string text;
  sample.lRead = platform::ReadTextFile(sample.cPath, text);
  sample.data = JsonDecode(text);
  sample.rows = sample.data.Get("DetalleVar").Get("OMEMQUERY");
  sample.plainRows = SampleLedgerRows(sample.rows);
  return sample;
}

// The client name of the last record of a job of n records.
std::string LastRecordMark(int64_t n) {
  return "ULTIMO_" + std::to_string(n);
}

// A well-mixed 64-bit hash of the record number (splitmix64's finaliser).
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// Gives record i a company name, tax number and amount of its own, of the
// same widths as the sample's, so the layout (and the page count) stays.
void MakeTextsUnique(Value& rec, int64_t i, int64_t rate) {
  uint64_t h = Mix(static_cast<uint64_t>(i));
  std::string name = "Cliente ";
  for (int k = 0; k < 8; ++k, h /= 26) name += static_cast<char>('a' + h % 26);
  uint64_t d = Mix(h + static_cast<uint64_t>(i));
  std::string digits = std::to_string(10000000 + d % 90000000);
  rec.Set("cuitc", "30-" + digits + "-" + std::to_string(d / 90000000 % 10));
  rec.Set("rsocialc", name);
  const double base = static_cast<double>(100 + Mix(d) % 999900) / 100.0;
  rec.Set("base", Value::Real(base, 2));
  rec.Set("impiva", Value::Real(std::round(base * static_cast<double>(rate)) / 100.0, 2));
}

// The job's variables, then N detail records made from the sample rows in
// turn. A stop signal ends the input, and so does an input call that memory
// ran out in (the engine then ignores the rest of the job's input, and its
// run fails with the reason): neither waits for the records still to come.
void SendSampleJob(TKXEngine& engine, const SampleData& sample, const LastPageOverflowArgs& a,
                   const std::function<int()>& stopSignal) {
  const int64_t n = a.nRecords;
  if (const Map* groups = sample.data.Get("DataVar").MapPtr()) {
    for (const Map::Entry& g : *groups) engine.SendDataVar(g.key, SampleRecordLarge(g.value));
  }
  for (int64_t i = 1; sample.Count() > 0 && i <= n; ++i) {
    if ((i - 1) % kRegistrosPorLote == 0 && (stopSignal() != 0 || !engine.cLastError.empty()))
      return;
    Value rec = SampleLedgerRecord(sample.plainRows, i, n);
    if (a.lUniqueTexts) {
      MakeTextsUnique(rec, i, kTiposIva[(i - 1) % std::size(kTiposIva)]);
      if (i == n) rec.Set("rsocialc", LastRecordMark(n));
    }
    if (a.lChanges)
      engine.SendDataVarAt(Value(i - 1), Value("RUPTURA"), Value::NewMap({{"VALUE", i}}));
    engine.SendDetalle(Value("OMEMQUERY"), rec);
  }
}

// Always set, so that a stop signal cancels the run at the engine's next
// report; in progress mode it also counts the well-formed calls, answering
// the count, which is not a logical and so never cancels.
Value ProgressCallback(bool counting, int64_t& events, const std::function<int()>& stopSignal) {
  return Value::Function([counting, &events, &stopSignal](std::span<const Value> p) {
    if (stopSignal() != 0) return Value(false);
    if (!counting) return Value(true);
    bool valid =
        p.size() >= 3 && ValueDouble(p[0]) >= 0 && ValueDouble(p[1]) >= 0 && ValueDouble(p[2]) >= 0;
    events += valid ? 1 : 0;
    return Value(events);
  });
}

// The compact JSON texts of the pages the findings look into.
struct PageTexts {
  std::string first;
  std::string last;
  std::string previous;
};

// Reads every page back, in page order and one at a time, so that a page
// lost from the spool fails the run (the document then holds its spool
// error) while memory holds one page; keeps the texts of the pages the
// findings look into, which still tell what they hold when another page is
// lost. Stops when a stop signal comes.
PageTexts ReadEveryPage(TDocumentoRenderizable& doc, const std::function<int()>& stopSignal) {
  PageTexts texts;
  const int64_t pages = doc.TotalPaginas();
  for (int64_t i = 1; i <= pages && stopSignal() == 0; ++i) {
    const Value page = doc.GetPagina(Value(i));
    if (i == 1) texts.first = JsonEncode(page);
    if (i == pages - 1) texts.previous = JsonEncode(page);
    if (i == pages) texts.last = JsonEncode(page);
  }
  return texts;
}

// One condition of the verdict and what to say when it does not hold.
struct Check {
  bool ok;
  std::string reason;
};

// The reason of the first check that fails, or "" when all hold.
std::string FirstFailure(const std::vector<Check>& checks) {
  for (const Check& c : checks) {
    if (!c.ok) return c.reason.empty() ? "unknown failure" : c.reason;
  }
  return "";
}

std::string Gib(uint64_t bytes) {
  return FormatFixed(static_cast<double>(bytes) / static_cast<double>(uint64_t{1} << 30), 2);
}

// Why a record count is refused, or "" when the run may go ahead.
std::string Refusal(const LastPageOverflowArgs& a) {
  const uint64_t memory = platform::MemoryLimit();
  const int64_t most = MaxRecords(memory, a.lChanges);
  if (a.nRecords <= most) return "";
  return "too many records for memory: at most " + std::to_string(most) + " fit in the " +
         Gib(memory) + " GiB this process may use, at about " +
         std::to_string(a.lChanges ? kBytesPorRegistroConCambio : kBytesPorRegistro) +
         " bytes each";
}

// Work of the program's own that memory may run out in (the engine's calls
// answer for theirs): the first stage it ran out in is noted, and the work
// of every later stage is skipped.
class MemoryGuard {
 public:
  template <class Work>
  void Run(const char* stage, Work&& work) {
    if (cEtapa) return;
    try {
      work();
    } catch (const std::bad_alloc&) {
      cEtapa = stage;
    }
  }
  bool Failed() const { return cEtapa != nullptr; }
  std::string Reason() const {
    return std::string("out of memory while ") + (cEtapa ? cEtapa : "");
  }

 private:
  const char* cEtapa = nullptr;
};

// Memory held back for the report. When memory runs out sending the job,
// the heap can be so full that even letting the job's data go, which makes
// a few small blocks first, fails: giving this back makes room for that.
// In blocks small enough to come from the heap, which keeps them for the
// next requests instead of handing them back to the system.
class MemoryReserve {
 public:
  MemoryReserve() {
    for (auto& block : aBloques) block = std::make_unique<char[]>(kBloque);
  }
  void Release() {
    for (auto& block : aBloques) block.reset();
  }

 private:
  static constexpr size_t kBloque = size_t{32} << 10;
  std::array<std::unique_ptr<char[]>, 32> aBloques;
};

// The line on standard error that says why the program failed.
std::string ErrorLine(std::string_view reason) {
  return std::string(kProgram) + ": " + OneLine(reason) + "\n";
}

std::string StoppedBy(int signal) {
  return "stopped by signal " + std::to_string(signal);
}

int RunJob(const LastPageOverflowArgs& a, std::string& out, std::string& err,
           const LastPageOverflowHooks& hooks);

// The end of a program that an exception reached: memory ran out where it
// cannot go on without (making its report), or its own code failed. What it
// made has unwound by now, its spool erased with its engine; a report cut
// short is no report.
int Failed(const std::exception& ex, std::string& out, std::string& err) {
  out.clear();
  const bool memory = dynamic_cast<const std::bad_alloc*>(&ex) != nullptr;
  err += ErrorLine(memory ? std::string("out of memory")
                          : std::string("internal error: ") + ex.what());
  return 1;
}

}  // namespace

LastPageOverflowArgs ParseLastPageOverflowArgs(const std::vector<std::string>& args) {
  LastPageOverflowArgs parsed;
  if (!args.empty()) {
    Value n = ReadNumber(args[0]);
    // A count whose integer part is below 1 ("0.5", "0", "-5", "abc") keeps the default.
    int64_t whole = IntPart(n).Int();
    if (n.Double() > 0 && whole >= 1) parsed.nRecords = whole;
  }
  if (args.size() > 1) parsed.lProgress = Lower(AllTrim(args[1])) == "progress";
  if (args.size() > 2) parsed.lChanges = Lower(AllTrim(args[2])) == "changes";
  return parsed;
}

int64_t MaxRecords(uint64_t memory, bool changes) {
  if (memory <= kBytesBase) return 0;
  const uint64_t most =
      (memory - kBytesBase) / (changes ? kBytesPorRegistroConCambio : kBytesPorRegistro);
  return static_cast<int64_t>(std::min<uint64_t>(most, INT64_MAX));
}

std::string SampleTemplatePath() {
  return std::string("lbl") + platform::PathSeparator() + kTemplate;
}

Value ReadSampleData() {
  return LoadSampleData().data;
}

Value SampleLedgerRows(const Value& rows) {
  Value plain = Value::NewList();
  if (const List* list = rows.ListPtr()) {
    plain.AsList().Reserve(list->size());
    for (const Value& row : *list) plain.Push(SampleRecordLarge(row));
  }
  return plain;
}

Value SampleLedgerRecord(const Value& rows, int64_t i, int64_t n) {
  const int64_t sampleRows = static_cast<int64_t>(rows.Len());
  // A copy of the plain row shares its keys: only the values are the record's own.
  const Value& row = rows.AsList()[static_cast<size_t>((i - 1) % sampleRows)];
  Value rec = row.IsMap() ? Value(MakeRef<Map>(row.AsMap())) : Value::NewMap();
  int64_t rate = kTiposIva[(i - 1) % std::size(kTiposIva)];
  rec.Set("seriefac", i > n - kRegistrosSerieFinal ? "ZZ" : "AA");
  rec.Set("numfac", i);
  rec.Set("iva", rate);
  rec.Set("base", 100);
  rec.Set("impiva", rate);
  rec.Set("rsocialc", i == n ? LastRecordMark(n) : "Registro " + std::to_string(i));
  return rec;
}

Value SampleRecordLarge(const Value& map) {
  Value out = Value::NewMap();
  if (const Map* m = map.MapPtr()) {
    out.AsMap().Reserve(m->size());
    for (const Map::Entry& e : *m) {
      out.AsMap().Append(e.key, ValorPlano(e.value));
    }
  }
  return out;
}

std::string OneLine(std::string_view message) {
  const auto isBreak = [](char c) { return c == '\r' || c == '\n'; };
  while (!message.empty() && isBreak(message.front())) message.remove_prefix(1);
  while (!message.empty() && isBreak(message.back())) message.remove_suffix(1);
  std::string line;
  line.reserve(message.size());
  for (size_t i = 0; i < message.size(); ++i) {
    if (!isBreak(message[i])) {
      line += message[i];
      continue;
    }
    // CR LF is one break.
    if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') ++i;
    line += " / ";
  }
  return line;
}

std::string StopReason(int signal) {
  return ErrorLine(StoppedBy(signal));
}

int MAIN(const std::vector<std::string>& args, std::string& out, std::string& err,
         const LastPageOverflowHooks& hooks) {
  LastPageOverflowArgs a;
  try {
    a = ParseLastPageOverflowArgs(args);
  } catch (const std::exception& ex) {
    return Failed(ex, out, err);
  }
  return RunLastPageOverflow(a, out, err, hooks);
}

int RunLastPageOverflow(const LastPageOverflowArgs& a, std::string& out, std::string& err,
                        const LastPageOverflowHooks& hooks) {
  try {
    const std::string refusal = Refusal(a);
    if (!refusal.empty()) {
      err += ErrorLine(refusal);
      return 1;
    }
    return RunJob(a, out, err, hooks);
  } catch (const std::exception& ex) {
    return Failed(ex, out, err);
  }
}

namespace {

int RunJob(const LastPageOverflowArgs& a, std::string& out, std::string& err,
           const LastPageOverflowHooks& hooks) {
  const double start = platform::MillisecondClock();
  const int64_t n = a.nRecords;
  const std::string lastMark = LastRecordMark(n);
  const std::function<int()> stopSignal =
      hooks.stopSignal ? hooks.stopSignal : std::function<int()>([] { return 0; });
  int signal = 0;
  // Asks for a stop signal until one has come.
  auto stopping = [&] {
    if (signal == 0) signal = stopSignal();
    return signal != 0;
  };
  int64_t progressEvents = 0;
  MemoryGuard memory;
  MemoryReserve reserve;

  SampleData sample;
  memory.Run("reading the sample data", [&] { sample = LoadSampleData(); });

  TKXEngine engine{Value(SampleTemplatePath())};
  engine.Create();
  engine.SetInputDiagnostics(Value(true));
  // The sample data file is UTF-8: it must reach the engine as it stands.
  engine.SetInputEncoding(Value("UTF-8"));
  engine.OpenJob();

  const double inputStart = platform::MillisecondClock();
  memory.Run("building the sample records", [&] { SendSampleJob(engine, sample, a, stopSignal); });
  // An input call that memory ran out in has lost records, and says so in
  // cLastError: no run of the job would be whole.
  const bool inputLost = !engine.cLastError.empty();
  engine.CloseJob();
  const double inputEnd = platform::MillisecondClock();
  // Memory ran out sending the job: its data go now, to leave room for the report.
  if (inputLost || memory.Failed()) {
    reserve.Release();
    engine.ReleaseInputData();
  }

  // The run, and then the page reads, only while no stop signal has come.
  Ref<TDocumentoRenderizable> doc;
  const double engineStart = platform::MillisecondClock();
  if (!stopping() && !memory.Failed() && !inputLost) {
    memory.Run("starting the run", [&] {
      engine.SetProgressCallback(ProgressCallback(a.lProgress, progressEvents, stopSignal));
    });
    if (!memory.Failed()) doc = engine.RunEngine();
  }
  const double engineEnd = platform::MillisecondClock();

  if (doc && hooks.afterRun) hooks.afterRun(*doc);
  PageTexts texts;
  if (doc && !stopping())
    memory.Run("reading the pages back", [&] { texts = ReadEveryPage(*doc, stopSignal); });
  stopping();

  const int64_t pages = doc ? doc->TotalPaginas() : 0;
  Value pag = engine.GetPaginationDiagnostics();
  Value input = engine.GetInputDiagnostics();
  Value perf = engine.GetPerformanceDiagnostics();

  const std::string p = std::to_string(pages);
  const bool lastFound = doc && Contains(texts.last, lastMark);
  const bool summaryLast = doc && Contains(texts.last, kSummaryMark);
  const bool summaryPrevious = pages > 1 && Contains(texts.previous, kSummaryMark);
  const bool firstNumber = doc && Contains(texts.first, "1 de " + p);
  const bool lastNumber = doc && Contains(texts.last, p + " de " + p);
  const std::string termination = ValueString(pag.Get("cTerminationReason"));
  const int64_t executions = perf.Get("nPageExecutions").Int();
  const int64_t lastDataLine = pag.Get("nLastDataLine").Int();

  auto line = [&out](const std::string& key, const std::string& value) {
    out += "\n" + key + "=" + value;
  };
  auto ms = [&perf](const char* key) { return Seconds(perf.Get(key).Double()); };
  line("pages", p);
  line("last", Yes(lastFound));
  line("summary_last", Yes(summaryLast));
  line("summary_previous", Yes(summaryPrevious));
  line("first_page_number", Yes(firstNumber));
  line("last_page_number", Yes(lastNumber));
  line("last_data_line", std::to_string(lastDataLine));
  line("termination", termination);
  line("input_seconds", Seconds(inputEnd - inputStart));
  line("input_normalize_seconds", Seconds(input.Get("nNormalizeMs").Double()));
  line("input_accumulate_seconds", Seconds(input.Get("nAccumulateMs").Double()));
  line("engine_seconds", Seconds(engineEnd - engineStart));
  line("performance_mode", ValueString(perf.Get("cMode")));
  line("page_executions", std::to_string(executions));
  line("page_engine_seconds", ms("nPageEngineMs"));
  line("composition_seconds", ms("nPageCompositionMs"));
  line("reflow_seconds", ms("nPageReflowMs"));
  line("pagination_seconds", ms("nPagePaginationMs"));
  line("page_overhead_seconds", ms("nPageOverheadMs"));
  line("selective_finalize_seconds", ms("nSelectiveFinalizeMs"));
  line("table_records_examined", std::to_string(perf.Get("nTableRecordsExamined").Int()));
  line("table_setup_seconds", ms("nTableSetupMs"));
  line("table_record_loop_seconds", ms("nTableRecordLoopMs"));
  line("table_partition_seconds", ms("nTablePartitionMs"));
  line("table_render_lines_seconds", ms("nTableRenderLinesMs"));
  line("table_cell_content_seconds", ms("nTableCellContentMs"));
  line("table_accumulate_seconds", ms("nTableAccumulateMs"));
  line("table_finish_seconds", ms("nTableFinishMs"));
  line("progress_events", std::to_string(progressEvents));
  line("seconds", Seconds(platform::MillisecondClock() - start));

  // The first failure is the one reported: a missing data file or a lost
  // page explains the page findings that fail after it. The last nine are
  // the success rule, in its order.
  const std::string failure = FirstFailure({
      {signal == 0, StoppedBy(signal)},
      {!memory.Failed(), memory.Reason()},
      {sample.lRead, "cannot read the sample data file " + sample.cPath},
      {sample.Count() > 0, "the sample data file has no detail rows in DetalleVar.OMEMQUERY"},
      {static_cast<bool>(doc),
       engine.cLastError.empty() ? "the run answered no document" : engine.cLastError},
      {doc && !doc->HasPageSpoolError(), doc ? doc->GetPageSpoolError() : ""},
      {lastFound, "the last page lacks the last record's mark " + lastMark},
      {summaryLast, std::string("the last page lacks ") + kSummaryMark},
      {!summaryPrevious, "page " + std::to_string(pages - 1) + " also shows " + kSummaryMark},
      {firstNumber, "page 1 lacks \"1 de " + p + "\""},
      {lastNumber, "the last page lacks \"" + p + " de " + p + "\""},
      {n != kRegistrosMuestra || pages == kPaginasMuestra,
       std::to_string(kRegistrosMuestra) + " records gave " + p + " pages, not " +
           std::to_string(kPaginasMuestra)},
      {executions <= pages, std::to_string(executions) + " page executions for " + p + " pages"},
      {lastDataLine == n,
       "the last data line is " + std::to_string(lastDataLine) + ", not " + std::to_string(n)},
      {termination == "all-data-consumed" ||
           termination == "all-data-consumed-after-lastpage-split",
       "the run ended with " + termination},
  });
  const bool success = failure.empty();
  line("success", Yes(success));
  if (!success) err += ErrorLine(failure);
  // Ending the document erases its spool.
  if (doc) doc->End();
  doc.reset();
  if (signal != 0 && hooks.stopped) hooks.stopped(128 + signal);
  engine.End();
  if (signal != 0) return 128 + signal;
  return success ? 0 : 1;
}

}  // namespace

}  // namespace kx
