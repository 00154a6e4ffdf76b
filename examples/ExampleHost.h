// What the example hosts share: sending a job's data from a data file and
// writing a rendered page as a viewer would draw it, one line per object.
#pragma once

#include <kxengine/TKXEngine.h>

#include <string>

namespace kx::examples {

// Reads a whole regular file of at most 64 MiB; false when it cannot be read.
bool ReadFile(const std::string& path, std::string& text);

// Sends a job's data, given in the form the console program's data file has:
//   {"DataVar": {"GROUP": {"field": value, ...}, ...},
//    "DetalleVar": {"GROUP": [{"field": value, ...}, ...], ...}}
// every DataVar group through SendDataVar, every DetalleVar record through
// SendDetalle, in order. A value may be a typed value {"tipo", "valor"}: its
// "valor" is sent. The job must be open.
void SendData(TKXEngine& engine, const Value& data);

// One rendered object as one line: its kind, id, box in mm and what it shows.
std::string DescribeObject(const Value& object);

// Every page of the document: a line per page, then a line per object.
std::string DescribePages(TDocumentoRenderizable& document);

}  // namespace kx::examples
