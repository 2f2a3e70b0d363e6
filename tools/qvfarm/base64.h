// Base64 (RFC 4648, with padding) for the icons of a farm dump.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "qvcomsrv/store/model.h"

namespace sky::qvfarm {

std::string toBase64(const farm::Bytes& bytes);
// nullopt when `text` is not base64 (a wrong character, a wrong length, misplaced padding).
std::optional<farm::Bytes> fromBase64(std::string_view text);

} // namespace sky::qvfarm
