// Rendering one text per detail record, as a table renders its cell texts:
// the cell's box and id change per record and the content formula reads a
// field of the current record. Prints nanoseconds per rendering for a cell
// text (rendered from its prototype), the same text as a document object
// (every key built and every colour resolved), a constant cell content, and
// a cell whose bold formula keeps it off the prototype.
// Run by hand: build/text_cell [records]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Json.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TEvaluadorFormulas.h"
#include "TRectangle.h"
#include "TText.h"

namespace {

using namespace kx;

struct TableParent : TRectangle {
  TableParent() { cType = Value("TTable"); }
};

double NanosPerRender(const char* label, const char* templateJson, TReportNode* parent,
                      int records) {
  auto conector = MakeRef<TConectorDatosReg>();
  auto evaluador = MakeRef<TEvaluadorFormulas>();
  conector->Create();
  evaluador->Create();
  auto contexto = MakeRef<TContextoEjecucion>(conector, evaluador, Value::NewMap());
  contexto->Create();

  TText text(parent);
  text.Load(JsonDecode(templateJson));
  text.Create();

  // The records are made up front: the figure is the text's rendering only.
  Value rows = Value::NewList();
  for (int i = 0; i < 64; ++i) {
    rows.Push(Value::NewMap({{"DET.NOMBRE", "Cliente numero " + std::to_string(i)},
                             {"DET.IMPORTE", Value::Real(i * 1.25, 2)}}));
  }
  const Value ids[] = {Value("T1_detail_r0_0_1_text"), Value("T1_detail_r1_0_1_text")};

  size_t bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < records; ++i) {
    contexto->PushRegistroDetalle(rows.AsList()[i % 64], Value(i), Value(records));
    text.cId = ids[i & 1];
    text.nTop = Value(20 + (i % 40) * 6);
    text.nZIndex = Value::Real(2.03, 2);
    const Value map = text.GenerarRenderizable(*contexto);
    bytes += map.Get("texto").Str().size();
    contexto->PopRegistroDetalle();
  }
  const double nanos =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
      records;
  std::printf("%s=%.0f ns (%zu bytes of text)\n", label, nanos, bytes);

  text.End();
  contexto->End();
  evaluador->End();
  conector->End();
  return nanos;
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200000;
  TableParent table;
  const char* cell = R"({"cText":"DET.NOMBRE","nLeft":10,"nWidth":40,"nHeight":6,
                        "cBackgroundColor":"#f0f0f0","nPaddingLeft":1})";
  NanosPerRender("cell_prototype", cell, &table, records);
  NanosPerRender("document_object", cell, nullptr, records);
  NanosPerRender("cell_constant", R"({"cText":"'Total'","nWidth":40,"nHeight":6})", &table,
                 records);
  NanosPerRender("cell_bold_formula",
                 R"({"cText":"DET.NOMBRE","cFontBoldFormula":"DET.IMPORTE > 10","nWidth":40})",
                 &table, records);
  return 0;
}
