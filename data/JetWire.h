// What an engine's work gives back across the isolation: its rows, or the error it threw,
// as bytes.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "data/JetEngine.h"

namespace qvu {

// Runs work and writes its rows or its error of the layer's kinds; any other exception
// writes nothing, which reads back as a damaged file.
std::string JetEncode(const std::function<JetRows()>& work) noexcept;

// The rows written by JetEncode, or its error thrown again. Nothing (work that died), a cut
// or malformed stream is the format error of the file at path.
JetRows JetDecode(const std::optional<std::string>& data, const std::string& path);

}  // namespace qvu
