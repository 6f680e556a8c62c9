// The machine's store: one SQLite file holding the registry and the service table.
#pragma once
#include <filesystem>
#include <string>

namespace win::store {

// Creates the schema (and the five root keys) in a new store file.
bool initialise(const std::filesystem::path& file, std::string& error);
// Checks that the file is a store this layer can use; the message names the path when it is not.
bool check(const std::filesystem::path& file, std::string& error);

}  // namespace win::store
