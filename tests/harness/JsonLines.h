// Shared by the harness's own files only: how it talks to the scripts it starts, through
// files they re-read (routes) and append to (one JSON object a line).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace qvu::testing {

std::string Unbase64(std::string_view text);
void ReplaceFileAtomically(const std::string& path, std::string_view bytes);
// The complete lines from byte offset from on; lines that are not JSON objects are skipped.
std::vector<nlohmann::json> ReadJsonLines(const std::string& path, std::uintmax_t from);
std::uintmax_t FileSizeOrZero(const std::string& path);
// The string member key of record, "" when absent or not a string.
std::string JsonText(const nlohmann::json& record, const char* key);

}  // namespace qvu::testing
