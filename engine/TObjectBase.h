// The base of every report object: the protocol through which the document,
// the composition engine and tables drive an object.
#pragma once

#include <string>

#include "Value.h"

namespace kx {

class TContextoEjecucion;

class TObjectBase : public KXObject {
 public:
  explicit TObjectBase(KXObject* parent = nullptr) { Init(parent); }
  std::string_view ClassName() const override { return "TObjectBase"; }

  // Stores the parent (the document, or a table for its cells).
  virtual TObjectBase& Init(KXObject* parent) {
    oParent = parent;
    return *this;
  }
  virtual TObjectBase& Create() { return *this; }
  virtual void End() { oParent = nullptr; }
  // Reads the object's keys from its template map.
  virtual TObjectBase& Load(const Value& map) {
    (void)map;
    return *this;
  }
  // The object's template map.
  virtual Value Save() { return Value::NewMap(); }
  // One rendered map, a list of them, or nothing.
  virtual Value GenerarRenderizable(TContextoEjecucion& context) {
    (void)context;
    return Value();
  }

  double nZIndex = 1;
  KXObject* oParent = nullptr;  // not owned: the parent outlives its objects
};

}  // namespace kx
