// The template against the documented schema (TemplateSchema.h), and the
// rules over the template as a whole, for check_templates.
#pragma once

#include <kxengine/Value.h>

#include <set>
#include <string>
#include <vector>

namespace kx::examples {

// Every finding of a template (its text, the text decoded, and the job's
// data): keys, types, values and formulas along the schema, resets that
// name no accumulator, objects that share an id or lie off the paper, table
// boxes too small for a record. With a guide, every key must be one of its
// words too.
std::vector<std::string> CheckTemplateAgainstSchema(const std::string& text, const Value& raw,
                                                    const Value& data,
                                                    const std::set<std::string>* guide);

// Where the schema no longer agrees with the engine: a key the engine writes
// back that the schema lacks, or one the schema has that the engine no
// longer writes (keys only read, such as a section's "lShowGrid", aside).
std::vector<std::string> SchemaAgainstEngine();

}  // namespace kx::examples
