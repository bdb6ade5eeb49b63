// Creating a file that only its owner can read, for a secret key.
#pragma once

#include <filesystem>
#include <string>

enum class RQOwnerOnlyFile { CREATED, EXISTS, FAILED };

// Creates the file with strData, never replacing one that exists (EXISTS
// then, and nothing is touched). A file that could not be written whole is
// removed again (FAILED).
RQOwnerOnlyFile RQCreateOwnerOnlyFile(const std::filesystem::path& file, const std::string& strData);
