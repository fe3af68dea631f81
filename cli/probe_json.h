#pragma once
// What the probe says about a file, as the JSON object of `avikit probe --json`; the Python
// module hands out the same object.

#include <nlohmann/json.hpp>
#include <string>

namespace avicli {

using Json = nlohmann::ordered_json;

// With `keyframes`, each video entry lists its key frames.
Json probe_json(const std::string& file, bool keyframes = false);

}  // namespace avicli
