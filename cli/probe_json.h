#pragma once
// What the probe says about a file, as the JSON object of `avikit probe --json`; the Python
// module hands out the same object.

#include <nlohmann/json.hpp>
#include <string>

namespace avicli {

using Json = nlohmann::ordered_json;

Json probe_json(const std::string& file);

}  // namespace avicli
