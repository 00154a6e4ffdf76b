// Template loading plus a whole run: any template text handed over in
// content mode loads, is analysed and runs over a few detail records to a
// document or to a stated failure, never a crash.
#include "FuzzEngine.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PrivateFolder();
  TKXEngine engine;
  engine.Create();
  engine.SetInputEncoding(Value("UTF-8"));
  engine.SetPlantillaContent(Value(fuzz::Text(data, size)));
  engine.GetTipoPlantilla(Value(fuzz::Text(data, size)));
  engine.OpenJob();
  fuzz::Touch(engine.GetAskStrings());
  fuzz::Touch(engine.GetLabelPrintLayout());
  fuzz::SendSampleDetails(engine, 4);
  fuzz::SendMissingVariables(engine);
  fuzz::RunAndRead(engine);
  return 0;
}
