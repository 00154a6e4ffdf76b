// Reading barcodes back with real decoders: a descriptor is drawn as a grey
// image at whole pixels per module, with the quiet zones it states, and
// handed to zbar (EAN, Code 128, QR Code) or libdmtx (Data Matrix). Both are
// asked for the raw bytes, so no character set conversion can hide a fault.
#pragma once

#include <dmtx.h>
#include <zbar.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Value.h"

namespace kx::testing {

using namespace ::zbar;  // the C API, which zbar.h puts in a namespace for C++

struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // 0 dark, 255 light, row after row
};

// A linear descriptor's bars, `scale` pixels a module, `height` pixels tall.
inline GreyImage DrawLinear(const Value& descriptor, int scale, int height) {
  const std::string_view bits = descriptor.Get("bits").Str();
  const int left = static_cast<int>(descriptor.Get("margenIzquierdoModulos").Int());
  const int right = static_cast<int>(descriptor.Get("margenDerechoModulos").Int());
  GreyImage img;
  img.width = (left + static_cast<int>(bits.size()) + right) * scale;
  img.height = height;
  img.pixels.assign(static_cast<size_t>(img.width) * static_cast<size_t>(height), 255);
  for (int y = 0; y < height; ++y)
    for (size_t m = 0; m < bits.size(); ++m)
      if (bits[m] == '1')
        for (int s = 0; s < scale; ++s)
          img.pixels[static_cast<size_t>(y * img.width + (left + static_cast<int>(m)) * scale +
                                         s)] = 0;
  return img;
}

// A matrix descriptor's modules, `scale` pixels a side, inside its quiet zone on every side.
inline GreyImage DrawMatrix(const Value& descriptor, int scale) {
  const List& rows = descriptor.Get("matriz").AsList();
  const int margin = static_cast<int>(descriptor.Get("margenModulos").Int());
  const int size = static_cast<int>(rows.size());
  GreyImage img;
  img.width = img.height = (size + 2 * margin) * scale;
  img.pixels.assign(static_cast<size_t>(img.width) * static_cast<size_t>(img.height), 255);
  for (int r = 0; r < size; ++r) {
    const std::string_view row = rows[static_cast<size_t>(r)].Str();
    for (int c = 0; c < static_cast<int>(row.size()); ++c) {
      if (row[static_cast<size_t>(c)] != '1') continue;
      for (int dy = 0; dy < scale; ++dy)
        for (int dx = 0; dx < scale; ++dx)
          img.pixels[static_cast<size_t>(((margin + r) * scale + dy) * img.width +
                                         (margin + c) * scale + dx)] = 0;
    }
  }
  return img;
}

// What zbar read: the symbology and the raw bytes of every symbol found.
struct ZbarRead {
  zbar_symbol_type_t type = ZBAR_NONE;
  std::string data;
  bool gs1 = false;  // the symbol began with FNC1
};

// Every symbol of `symbology` that zbar finds in the image.
inline std::vector<ZbarRead> ZbarDecode(const GreyImage& img, zbar_symbol_type_t symbology) {
  zbar_image_scanner_t* scanner = zbar_image_scanner_create();
  zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
  zbar_image_scanner_set_config(scanner, symbology, ZBAR_CFG_ENABLE, 1);
  zbar_image_scanner_set_config(scanner, symbology, ZBAR_CFG_BINARY, 1);
  zbar_image_t* image = zbar_image_create();
  zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
  zbar_image_set_size(image, static_cast<unsigned>(img.width), static_cast<unsigned>(img.height));
  zbar_image_set_data(image, img.pixels.data(), img.pixels.size(), nullptr);
  zbar_scan_image(scanner, image);
  std::vector<ZbarRead> out;
  for (const zbar_symbol_t* s = zbar_image_first_symbol(image); s; s = zbar_symbol_next(s)) {
    ZbarRead r;
    r.type = zbar_symbol_get_type(s);
    r.data.assign(zbar_symbol_get_data(s), zbar_symbol_get_data_length(s));
    r.gs1 = (zbar_symbol_get_modifiers(s) & (1u << ZBAR_MOD_GS1)) != 0;
    out.push_back(std::move(r));
  }
  zbar_image_destroy(image);
  zbar_image_scanner_destroy(scanner);
  return out;
}

// The raw bytes of the Data Matrix symbol libdmtx finds, asked for no error correction (a limit
// that libdmtx 0.7.7 does not enforce). Nothing when no symbol is read.
inline std::optional<std::string> DmtxDecodeUncorrected(GreyImage img) {
  DmtxImage* image = dmtxImageCreate(img.pixels.data(), img.width, img.height, DmtxPack8bppK);
  if (!image) return std::nullopt;
  dmtxImageSetProp(image, DmtxPropImageFlip, DmtxFlipNone);
  DmtxDecode* dec = dmtxDecodeCreate(image, 1);
  std::optional<std::string> out;
  if (DmtxRegion* reg = dmtxRegionFindNext(dec, nullptr)) {
    if (DmtxMessage* msg = dmtxDecodeMatrixRegion(dec, reg, 0)) {
      out.emplace(reinterpret_cast<const char*>(msg->output), msg->outputIdx);
      dmtxMessageDestroy(&msg);
    }
    dmtxRegionDestroy(&reg);
  }
  dmtxDecodeDestroy(&dec);
  dmtxImageDestroy(&image);
  return out;
}

}  // namespace kx::testing
