// Splitting a request target into document path and query text, as the HTTP server does.
#pragma once

#include <string>
#include <string_view>

namespace ringolan::server {

struct RequestTarget {
    std::string document_path;  // decoded
    std::string query;          // raw text after the first "?", empty without one
};

// The path part: "\" becomes "/"; "*" stays; up to the first "=" every "%" with two hex digits
// becomes that byte (a pair that is not hex, and %00, vanish with their "%"); "+" stays; from
// the first "=" on the text is unchanged. A "%" with fewer than two characters after it stays.
std::string decode_document_path(std::string_view path);

RequestTarget split_target(std::string_view target);

}  // namespace ringolan::server
