#include "TPlantilla.h"

#include "Json.h"
#include "Platform.h"

namespace kx {

TPlantilla::~TPlantilla() {
  // End leaves fresh members behind, which allocates: a destructor that runs
  // while memory has run out must not throw, and they go with the template.
  try {
    End();
  } catch (...) {
  }
}

TPlantilla& TPlantilla::Init(const Value& path) {
  cRuta = path.IsText() ? std::string(path.Str()) : "";
  hPlantilla = Value::NewMap();
  oDocumento.reset();
  lFuenteValida = true;
  return *this;
}

TPlantilla& TPlantilla::SetRuta(const Value& path) {
  cRuta = path.IsText() ? std::string(path.Str()) : "";
  return *this;
}

TPlantilla& TPlantilla::SetData(const Value& map) {
  hPlantilla = map.IsMap() ? map : Value::NewMap();
  lFuenteValida = map.IsMap();
  return *this;
}

TPlantilla& TPlantilla::Create() {
  if (!cRuta.empty()) hPlantilla = CargarJson(Value(cRuta), lFuenteValida);
  Value document = NormalizarDocumento(hPlantilla);
  if (oDocumento) oDocumento->End();
  oDocumento = MakeRef<TDocument>();
  oDocumento->Create();
  oDocumento->Load(document);
  return *this;
}

void TPlantilla::End() {
  if (oDocumento) oDocumento->End();
  hPlantilla = Value::NewMap();
  oDocumento.reset();
  cRuta.clear();
  lFuenteValida = true;
}

Value TPlantilla::CargarJson(const Value& path) {
  bool cargada = false;
  return CargarJson(path, cargada);
}

bool TPlantilla::LeerArchivo(std::string_view path, std::string& out) {
  return platform::ReadRegularFile(path, kMaxBytesArchivo, out) == platform::FileRead::kRead;
}

Value TPlantilla::CargarJson(const Value& path, bool& cargada) {
  std::string p = ValueString(path);
  std::string content;
  Value decoded;
  // A missing file, a folder, a device or an unreadable path all give the empty template.
  if (!p.empty() && LeerArchivo(p, content)) {
    const std::string_view text = WithoutByteOrderMark(content);
    if (!IsBlank(text)) decoded = JsonDecode(text);
  }
  cargada = decoded.IsMap();
  return cargada ? decoded : Value::NewMap();
}

Value TPlantilla::NormalizarDocumento(const Value& input) {
  const Value map = input.IsMap() ? input : Value::NewMap();
  if (map.Get("aObjects").IsList()) return map;

  Value objects = Value::NewList();
  if (const List* older = map.Get("objetos").ListPtr()) {
    for (const Value& o : *older) {
      if (!o.IsMap()) continue;
      std::string name = o.Has("nombre") ? ValueString(o.Get("nombre")) : ValueString(o.Get("id"));
      objects.Push(Value::NewMap({
          {"cId", ValueString(o.Get("id"))},
          {"cName", name},
          {"cType", ValueString(o.Get("tipo")) == "TRectangle" ? "TRectangle" : "TText"},
          {"nLeft", ValueNumber(o.Get("x"))},
          {"nTop", ValueNumber(o.Get("y"))},
          {"nWidth", ValueNumber(o.Get("ancho"))},
          {"nHeight", ValueNumber(o.Get("alto"))},
          {"cText", ValueString(o.Get("valor"))},
          {"cCondition", ValueString(o.Get("condicion"))},
      }));
    }
  }
  const Value& page = map.Get("pagina").IsMap() ? map.Get("pagina") : kNil;
  return Value::NewMap({
      {"cType", "TDocument"},
      {"cFormatVersion", "1.0"},
      {"cTemplateName", map.Has("nombre") ? ValueString(map.Get("nombre")) : "Documento"},
      {"nPaperWidth", page.Has("ancho") ? ValueNumber(page.Get("ancho")) : Value(210)},
      {"nPaperHeight", page.Has("alto") ? ValueNumber(page.Get("alto")) : Value(297)},
      {"aObjects", objects},
  });
}

Value TPlantilla::GetPagina() const {
  if (!oDocumento) {
    return Value::NewMap({{"ancho", 210.0},
                          {"alto", 297.0},
                          {"modoAlto", "fixed"},
                          {"altoDiseno", 250.0},
                          {"margenInferiorContinuo", 5.0},
                          {"unidad", "mm"}});
  }
  return Value::NewMap({{"ancho", oDocumento->nPaperWidth},
                        {"alto", oDocumento->nPaperHeight},
                        {"modoAlto", oDocumento->cPaperHeightMode},
                        {"altoDiseno", oDocumento->nDesignHeight},
                        {"margenInferiorContinuo", oDocumento->nContinuousBottomMargin},
                        {"unidad", "mm"}});
}

const std::vector<Ref<TObjectBase>>& TPlantilla::GetObjetos() const {
  static const std::vector<Ref<TObjectBase>> kNone;
  return oDocumento ? oDocumento->aObjects : kNone;
}

Value TPlantilla::GetUserVars() const {
  return oDocumento ? oDocumento->hUserVars : Value::NewMap();
}

Value TPlantilla::GetAcumVars() const {
  return oDocumento ? oDocumento->hAcumVars : Value::NewMap();
}

bool TPlantilla::IsLabelDocument() const {
  return oDocumento && oDocumento->IsLabelDocument();
}

Value TPlantilla::GetLabelLayout() const {
  return oDocumento ? oDocumento->hLabelLayout : TDocument::DefaultLabelLayout();
}

}  // namespace kx
