#include "server/request_target.h"

#include <algorithm>

#include "common/ascii.h"

namespace ringolan::server {

using text::hex_value;

std::string decode_document_path(std::string_view path) {
    std::string in(path);
    for (char& c : in)
        if (c == '\\') c = '/';
    if (in == "*") return in;
    const size_t stop = std::min(in.find('='), in.size());
    std::string out;
    out.reserve(in.size());
    size_t i = 0;
    while (i < stop) {
        if (in[i] == '%' && i + 2 < stop) {
            const int hi = hex_value(in[i + 1]), lo = hex_value(in[i + 2]);
            if (hi >= 0 && lo >= 0 && (hi | lo) != 0) out += char(hi * 16 + lo);
            i += 3;
        } else {
            out += in[i++];
        }
    }
    out.append(in, stop, std::string::npos);
    return out;
}

RequestTarget split_target(std::string_view target) {
    const size_t q = target.find('?');
    if (q == std::string_view::npos) return {decode_document_path(target), {}};
    return {decode_document_path(target.substr(0, q)), std::string(target.substr(q + 1))};
}

}  // namespace ringolan::server
