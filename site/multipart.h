// Reading a multipart/form-data request body (RFC 7578 with the delimiters of RFC 2046).
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace ringolan::site {

class MultipartError : public Error {
public:
    using Error::Error;
};

struct FormPart {
    std::string name;                     // the disposition's "name"
    std::optional<std::string> filename;  // the disposition's "filename", when given
    std::string content_type;             // empty when the part has no Content-Type line
    std::string data;                     // the bytes between the part's empty line and its delimiter
};

// The boundary parameter of a Content-Type value "multipart/form-data; boundary=...", quoted
// or not. Throws MultipartError when the type is another one or the boundary is missing.
std::string form_boundary(std::string_view content_type);

// The parts of a body in order. Text before the first delimiter (the preamble) and after the
// closing one is ignored. Throws MultipartError when a delimiter, a part's header block, its
// Content-Disposition or the closing delimiter is missing.
std::vector<FormPart> parse_multipart(std::string_view body, std::string_view boundary);

// The first part with this name, or nullptr.
const FormPart* find_part(const std::vector<FormPart>& parts, std::string_view name);

}  // namespace ringolan::site
