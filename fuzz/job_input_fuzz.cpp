// Job data input in both encodings: a data file's content ("DataVar" groups,
// "DetalleVar" record lists, TypedValues, raw bytes in texts) sent through
// the input operations as Windows-1252 and as UTF-8, read by the data
// connector, and run against a small table template.
#include "FuzzEngine.h"
#include "LastPageOverflow.h"
#include "TConectorDatos.h"

using namespace kx;

namespace {

constexpr const char* kTemplate = R"({"cFormatVersion":"1.0","aObjects":[
  {"cType":"TText","cId":"cab","nLeft":10,"nTop":5,"nWidth":100,"nHeight":5,
   "cText":"CAB.NOMBRE + ' ' + CAB.FECHA"},
  {"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":60,
   "hSections":{"detail":{"aLines":[{"nHeight":5,"aCells":[
     {"nWidth":50,"hContent":{"cType":"TText","hObject":{"cText":"LIN.txt"}}},
     {"nWidth":50,"hContent":{"cType":"TText","hObject":{"cText":"LIN.importe"}}}]}]}}}]})";

// At most this many records of a data text are sent: the target looks for
// faults in reading input, not in the cost of long runs.
constexpr size_t kMaxRecords = 64;

void SendData(TKXEngine& engine, const Value& data) {
  if (const Map* groups = data.Get("DataVar").MapPtr()) {
    for (const Map::Entry& g : *groups) engine.SendDataVar(g.key, SampleRecordLarge(g.value));
  }
  const Map* blocks = data.Get("DetalleVar").MapPtr();
  if (!blocks) return;
  for (const Map::Entry& b : *blocks) {
    if (!b.value.IsList()) {
      engine.SendDetalle(b.key, b.value);
      continue;
    }
    size_t sent = 0;
    for (const Value& row : b.value.AsList()) {
      if (sent == 0) engine.SendDetalleSchema(b.key, SampleRecordLarge(row));
      if (sent++ == kMaxRecords) break;
      engine.SendDataVarAt(Value(static_cast<int64_t>(sent)), Value("CAMBIO"),
                           Value::NewMap({{"n", static_cast<int64_t>(sent)}}));
      engine.SendDetalle(b.key, SampleRecordLarge(row));
    }
  }
}

void RunInEncoding(const Value& data, const char* encoding) {
  TKXEngine engine;
  engine.Create();
  engine.SetInputEncoding(Value(encoding));
  engine.SetPlantillaContent(Value(kTemplate));
  engine.SetInputDiagnostics(Value(true));
  engine.OpenJob();
  SendData(engine, data);
  fuzz::SendMissingVariables(engine);
  fuzz::Touch(engine.ValidarDatos());
  fuzz::RunAndRead(engine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PrivateFolder();
  const Value decoded = JsonDecode(fuzz::Text(data, size));
  if (!decoded.IsMap()) return 0;
  RunInEncoding(decoded, "WINDOWS-1252");
  RunInEncoding(decoded, "UTF-8");
  // The data connector reads the same map as a data file.
  TConectorDatos connector;
  connector.hDatos = DeepClone(decoded);
  fuzz::Touch(connector.GetVariables());
  fuzz::Touch(connector.GetRegistrosDetalle());
  fuzz::Touch(connector.NormalizarDatosRuntime(DeepClone(decoded)));
  return 0;
}
