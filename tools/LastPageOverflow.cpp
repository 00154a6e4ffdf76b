#include "LastPageOverflow.h"

#include <cmath>
#include <iterator>

#include "Json.h"
#include "Platform.h"
#include "TConectorDatos.h"
#include "TKXEngine.h"

namespace kx {

namespace {

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

std::string Seconds(double ms) {
  return FormatFixed(ms / 1000.0, 2);
}

std::string Yes(bool b) {
  return b ? "yes" : "no";
}

bool Contains(const std::string& hay, const std::string& needle) {
  return TextContains(hay, needle);
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

int MAIN(const std::vector<std::string>& args, std::string& out) {
  return RunLastPageOverflow(ParseLastPageOverflowArgs(args), out);
}

int RunLastPageOverflow(const LastPageOverflowArgs& a, std::string& out) {
  const double start = platform::MillisecondClock();
  const char sep = platform::PathSeparator();
  const int64_t n = a.nRecords;
  const std::string lastMark = "ULTIMO_" + std::to_string(n);
  int64_t progressEvents = 0;

  std::string dataText;
  platform::ReadTextFile(std::string("lbl") + sep + "demo" + sep + kDataFile, dataText);
  Value data = JsonDecode(dataText);
  Value rows = data.Get("DetalleVar").Get("OMEMQUERY");
  const size_t sampleRows = rows.IsList() ? rows.Len() : 0;

  TKXEngine engine(Value(std::string("lbl") + sep + kTemplate));
  engine.Create();
  engine.SetInputDiagnostics(Value(true));
  // The sample data file is UTF-8: it must reach the engine as it stands.
  engine.SetInputEncoding(Value("UTF-8"));
  engine.OpenJob();

  const double inputStart = platform::MillisecondClock();
  if (const Map* groups = data.Get("DataVar").MapPtr()) {
    for (const Map::Entry& g : *groups) engine.SendDataVar(g.key, SampleRecordLarge(g.value));
  }
  for (int64_t i = 1; sampleRows > 0 && i <= n; ++i) {
    Value rec = SampleRecordLarge(
        rows.AsList()[static_cast<size_t>((i - 1) % static_cast<int64_t>(sampleRows))]);
    int64_t rate = kTiposIva[(i - 1) % std::size(kTiposIva)];
    rec.Set("seriefac", i > n - kRegistrosSerieFinal ? "ZZ" : "AA");
    rec.Set("numfac", i);
    rec.Set("iva", rate);
    rec.Set("base", 100);
    rec.Set("impiva", rate);
    if (a.lUniqueTexts) MakeTextsUnique(rec, i, rate);
    if (i == n || !a.lUniqueTexts)
      rec.Set("rsocialc", i == n ? lastMark : "Registro " + std::to_string(i));
    if (a.lChanges)
      engine.SendDataVarAt(Value(i - 1), Value("RUPTURA"), Value::NewMap({{"VALUE", i}}));
    engine.SendDetalle(Value("OMEMQUERY"), rec);
  }
  engine.CloseJob();
  const double inputEnd = platform::MillisecondClock();

  if (a.lProgress) {
    engine.SetProgressCallback(Value::Function([&progressEvents](std::span<const Value> p) {
      bool valid = p.size() >= 3 && ValueDouble(p[0]) >= 0 && ValueDouble(p[1]) >= 0 &&
                   ValueDouble(p[2]) >= 0;
      progressEvents += valid ? 1 : 0;
      return Value(progressEvents);
    }));
  }

  const double engineStart = platform::MillisecondClock();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  const double engineEnd = platform::MillisecondClock();

  const int64_t pages = doc ? doc->TotalPaginas() : 0;
  const std::string first = doc && pages > 0 ? JsonEncode(doc->GetPagina(1)) : "";
  const std::string last = doc && pages > 0 ? JsonEncode(doc->GetPagina(pages)) : "";
  const std::string previous = doc && pages > 1 ? JsonEncode(doc->GetPagina(pages - 1)) : "";
  Value pag = engine.GetPaginationDiagnostics();
  Value input = engine.GetInputDiagnostics();
  Value perf = engine.GetPerformanceDiagnostics();

  const std::string p = std::to_string(pages);
  const bool lastFound = doc && Contains(last, lastMark);
  const bool summaryLast = doc && Contains(last, kSummaryMark);
  const bool summaryPrevious = pages > 1 && Contains(previous, kSummaryMark);
  const bool firstNumber = doc && Contains(first, "1 de " + p);
  const bool lastNumber = doc && Contains(last, p + " de " + p);
  const std::string termination = ValueString(pag.Get("cTerminationReason"));
  const int64_t executions = perf.Get("nPageExecutions").Int();

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
  line("last_data_line", std::to_string(pag.Get("nLastDataLine").Int()));
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

  // With no sample rows, no data file or no document the run cannot pass.
  const bool success = doc && sampleRows > 0 && lastFound && summaryLast && !summaryPrevious &&
                       firstNumber && lastNumber &&
                       (n != kRegistrosMuestra || pages == kPaginasMuestra) &&
                       executions <= pages && pag.Get("nLastDataLine").Int() == n &&
                       (termination == "all-data-consumed" ||
                        termination == "all-data-consumed-after-lastpage-split");
  line("success", Yes(success));
  doc.reset();
  engine.End();
  return success ? 0 : 1;
}

}  // namespace kx
