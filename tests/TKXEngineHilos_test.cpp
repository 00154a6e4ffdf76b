// Engines on separate threads are independent: a server host runs one engine
// per request thread, and each must give the document a lone engine gives.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Json.h"
#include "LastPageOverflow.h"
#include "Platform.h"
#include "TKXEngine.h"
#include "TRichText.h"

namespace kx {
namespace {

// What a job answered: its error text and every page as compact JSON.
struct Result {
  std::string error;
  std::vector<std::string> pages;
};

Result Read(TKXEngine& engine, const Ref<TDocumentoRenderizable>& doc) {
  Result r;
  r.error = engine.cLastError;
  if (!doc) return r;
  for (int64_t p = 1; p <= doc->TotalPaginas(); ++p)
    r.pages.push_back(JsonEncode(doc->GetPagina(p)));
  if (doc->HasPageSpoolError()) r.error += doc->GetPageSpoolError();
  return r;
}

// The sample VAT ledger of n records, its data decoded by the calling thread:
// no value crosses from one thread to another.
void SendLedger(TKXEngine& engine, const std::string& dataText, int64_t n) {
  const Value data = JsonDecode(dataText);
  for (const Map::Entry& g : data.Get("DataVar").AsMap())
    engine.SendDataVar(g.key, SampleRecordLarge(g.value));
  const Value& rows = data.Get("DetalleVar").Get("OMEMQUERY");
  for (int64_t i = 1; i <= n; ++i)
    engine.SendDetalle(Value("OMEMQUERY"), SampleLedgerRecord(rows, i, n));
}

// Every kind of object the sample ledger lacks, in the page and in table
// cells: images, barcodes of each symbology, rich text (RTF and HTML), a
// chart, shapes.
std::string MixedTemplate() {
  const std::string rtf = JsonEncode(Value(KXRICHTEXTENCODELITERAL(
      R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}\f0 Mes {\b {{LIN.mes}}}\par})")));
  return R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
  "aObjects":[
    {"cType":"TImage","cId":"logo","nWidth":20,"nHeight":10,"cSource":"'data:image/png;base64,iVBORw0KGgo='"},
    {"cType":"TBarcode","cId":"qr","nTop":12,"nWidth":20,"nHeight":20,"cBarcodeType":"QR","cContent":"'Pedido ' + PAGE()"},
    {"cType":"TBarcode","cId":"dm","nTop":12,"nLeft":25,"nWidth":20,"nHeight":20,"cBarcodeType":"DataMatrix","cContent":"'Hoja ' + PAGE()"},
    {"cType":"richText","cId":"rt","nTop":35,"nWidth":100,"nHeight":10,"cContent":)J" +
         rtf + R"J(},
    {"cType":"TChart","cId":"g","nTop":50,"nWidth":60,"nHeight":40,"hChartSpec":{"cCategoryFormula":"LIN.mes","cValueFormula":"LIN.importe"}},
    {"cType":"TEllipse","cId":"e","nTop":50,"nLeft":70,"nWidth":20,"nHeight":20},
    {"cType":"TRectangle","cId":"r","nTop":50,"nLeft":95,"nWidth":20,"nHeight":20,"nRounded":2},
    {"cType":"TLine","cId":"l","nTop":92,"nWidth":190,"nHeight":0},
    {"cType":"TTable","cId":"t","nTop":100,"nWidth":190,"nHeight":150,
     "hSections":{"detail":{"aLines":[{"nHeight":12,"aCells":[
       {"nWidth":40,"hContent":{"cType":"TText","hObject":{"cText":"LIN.mes + ' ' + LIN.importe"}}},
       {"nWidth":40,"hContent":{"cType":"TBarcode","hObject":{"cBarcodeType":"Code128","cContent":"LIN.codigo"}}},
       {"nWidth":40,"hContent":{"cType":"TBarcode","hObject":{"cBarcodeType":"EAN13","cContent":"'590123412345'"}}},
       {"nWidth":30,"hContent":{"cType":"richText","hObject":{"cContent":"'<p>Mes <b>' + LIN.mes + '</b></p>'"}}},
       {"nWidth":40,"hContent":{"cType":"TImage","hObject":{"cSource":"'data:image/png;base64,iVBORw0KGgo='"}}}]}]}}}]})J";
}

void SendMixed(TKXEngine& engine, int64_t n) {
  for (int64_t i = 1; i <= n; ++i)
    engine.SendDetalle(Value("LIN"),
                       Value::NewMap({{"mes", std::string("M").append(std::to_string(i % 12 + 1))},
                                      {"importe", Value::Real(i * 1.25, 2)},
                                      {"codigo", std::string("ART-").append(std::to_string(i))}}));
}

// A label sheet: each record's label carries a text and a QR code.
const char* kLabelTemplate = R"J({"cFormatVersion":"1.0","cDocumentKind":"label",
  "nPaperWidth":210,"nPaperHeight":297,"hLabelLayout":{"nColumns":3,"nRows":8},
  "aObjects":[{"cType":"TText","cId":"n","nWidth":40,"nHeight":5,"cText":"'Caja ' + ETQ.n"},
    {"cType":"TBarcode","cId":"c","nTop":6,"nWidth":20,"nHeight":20,"cBarcodeType":"QR","cContent":"'C' + ETQ.n"}]})J";

void SendLabels(TKXEngine& engine, int64_t n) {
  for (int64_t i = 1; i <= n; ++i) engine.SendDetalle(Value("ETQ"), Value::NewMap({{"n", i}}));
}

// One job: its template (a file name or JSON text) and its data.
struct Job {
  std::string name;
  std::string templateName;  // a file, when set
  std::string templateText;  // else this text
  std::function<void(TKXEngine&)> send;
};

void Open(TKXEngine& engine, const Job& job) {
  if (!job.templateName.empty()) {
    engine.SetPlantillaName(Value(job.templateName));
  } else {
    engine.SetPlantillaContent(Value(job.templateText));
  }
  engine.SetInputEncoding(Value("UTF-8"));
  engine.OpenJob();
  job.send(engine);
  engine.CloseJob();
}

Result RunJob(const Job& job) {
  TKXEngine engine;
  Open(engine, job);
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  Result r = Read(engine, doc);
  doc.reset();
  engine.End();
  return r;
}

std::vector<Job> Jobs(const std::string& dataText) {
  const std::string ledger = std::string(KX_SOURCE_DIR) + "/" + SampleTemplatePath();
  return {
      {"ledger 2000", ledger, "", [&dataText](TKXEngine& e) { SendLedger(e, dataText, 2000); }},
      {"ledger 2600", ledger, "", [&dataText](TKXEngine& e) { SendLedger(e, dataText, 2600); }},
      {"mixed objects", "", MixedTemplate(), [](TKXEngine& e) { SendMixed(e, 120); }},
      {"labels", "", kLabelTemplate, [](TKXEngine& e) { SendLabels(e, 200); }},
  };
}

std::string SampleDataText() {
  std::string text;
  platform::ReadTextFile(std::string(KX_SOURCE_DIR) +
                             "/lbl/demo/"
                             "ivacli_Libro_de_Iva_de_Facturas_emitidas_importado_tarvex_sample_"
                             "data.json",
                         text);
  return text;
}

void ExpectSame(const Result& got, const Result& want, const std::string& what) {
  EXPECT_EQ(got.error, want.error) << what;
  ASSERT_EQ(got.pages.size(), want.pages.size()) << what;
  for (size_t p = 0; p < want.pages.size(); ++p)
    EXPECT_EQ(got.pages[p], want.pages[p]) << what << ", page " << p + 1;
}

// Eight engines on eight threads, each running every job in a turn of its
// own (so that different kinds of job overlap), give every page a lone
// engine gives.
TEST(TKXEngineHilos, EightEnginesOnEightThreadsGiveTheSingleThreadDocuments) {
  const std::string dataText = SampleDataText();
  ASSERT_FALSE(dataText.empty());
  const std::vector<Job> jobs = Jobs(dataText);
  std::vector<Result> want;
  for (const Job& job : jobs) {
    want.push_back(RunJob(job));
    ASSERT_EQ(want.back().error, "") << job.name;
    ASSERT_GT(want.back().pages.size(), 1u) << job.name;
  }

  constexpr size_t kThreads = 8;
  std::vector<std::vector<Result>> got(kThreads, std::vector<Result>(jobs.size()));
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (size_t k = 0; k < jobs.size(); ++k) {
        const size_t j = (t + k) % jobs.size();
        got[t][j] = RunJob(jobs[j]);
      }
    });
  }
  for (std::thread& th : threads) th.join();

  for (size_t t = 0; t < kThreads; ++t) {
    for (size_t j = 0; j < jobs.size(); ++j)
      ExpectSame(got[t][j], want[j], jobs[j].name + " on thread " + std::to_string(t));
  }
}

// An engine may move to another thread between calls: one thread opens the
// job and sends its data, another runs it, a third reads the pages.
TEST(TKXEngineHilos, AnEngineMayMoveBetweenThreadsBetweenCalls) {
  const std::string dataText = SampleDataText();
  ASSERT_FALSE(dataText.empty());
  for (const Job& job : Jobs(dataText)) {
    const Result want = RunJob(job);
    TKXEngine engine;
    Ref<TDocumentoRenderizable> doc;
    std::thread([&] { Open(engine, job); }).join();
    std::thread([&] { doc = engine.RunEngine(); }).join();
    ExpectSame(Read(engine, doc), want, job.name);
  }
}

}  // namespace
}  // namespace kx
