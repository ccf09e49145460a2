// Strict UTF-8 to UTF-16 for names and values written into a file.
#pragma once

#include <string>
#include <string_view>

namespace ringolan::jet {

// Throws WriteError on malformed UTF-8 (overlong forms, surrogates, truncated sequences).
std::u16string utf8_to_utf16_checked(std::string_view utf8);
size_t utf16_length_checked(std::string_view utf8);

}  // namespace ringolan::jet
