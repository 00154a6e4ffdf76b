// The template of one job: reads and decodes a template file or takes a
// decoded map, converts the older flat form and builds the document.
#pragma once

#include <string>

#include "TDocument.h"
#include "Value.h"

namespace kx {

class TPlantilla : public KXObject {
 public:
  explicit TPlantilla(const Value& path = Value()) { Init(path); }
  ~TPlantilla() override;
  std::string_view ClassName() const override { return "TPlantilla"; }

  TPlantilla& Init(const Value& path);
  TPlantilla& SetRuta(const Value& path);
  // Holds the given map (an empty map for anything else) as the raw template.
  TPlantilla& SetData(const Value& map);
  // Whether the source gave a template: false when the path names no file, or a
  // file that cannot be read, is empty or blank, or holds no JSON object, and
  // when SetData was given something other than a map. Without any source (no
  // path, no map given) the empty template is the template: true.
  bool FuenteValida() const { return lFuenteValida; }
  // Reads the file when a path is set, converts the older form and builds the document.
  TPlantilla& Create();
  void End();

  // The raw template map, as read or given (not a copy).
  const Value& GetData() const { return hPlantilla; }
  // The paper of the run.
  Value GetPagina() const;
  // The document's report objects, empty without a document.
  const std::vector<Ref<TObjectBase>>& GetObjetos() const;
  // User variable definitions by name.
  Value GetUserVars() const;
  // Accumulator variable definitions by name.
  Value GetAcumVars() const;
  // The document is a label template.
  bool IsLabelDocument() const;
  // The normalised label layout, or the default one without a document.
  Value GetLabelLayout() const;

  // The largest template file read. A name that gives more (a device, or a
  // file of the system whose content never ends) names no template: it fails
  // at once, before it fills the memory.
  static constexpr size_t kMaxBytesArchivo = size_t{64} << 20;
  // Reads a template file's bytes: a regular file of at most kMaxBytesArchivo.
  static bool LeerArchivo(std::string_view path, std::string& out);
  // Reads and decodes a template file; an empty map when it is missing, blank or not a JSON object.
  static Value CargarJson(const Value& path);
  // The same, telling whether the file gave a map.
  static Value CargarJson(const Value& path, bool& cargada);
  // The document form of a template map; older flat maps are converted.
  static Value NormalizarDocumento(const Value& map);

  Value hPlantilla = Value::NewMap();
  Ref<TDocument> oDocumento;
  std::string cRuta;

 private:
  bool lFuenteValida = true;
};

}  // namespace kx
