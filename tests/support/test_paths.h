#pragma once
// Where tests find their inputs, and small file helpers.

#include <string>

namespace avitest {

std::string data_path(const std::string& name);  // tests/data/<name>
// Real media made by tests/media/make_media.sh (tests added with the MEDIA option).
std::string media_path(const std::string& name);
std::string read_file(const std::string& path);    // whole file; empty when unreadable
std::string gunzip_file(const std::string& path);  // a .gz file's contents; empty on error
// A fresh path under the system temp folder, unique to this process.
std::string temp_path(const std::string& name);

}  // namespace avitest
