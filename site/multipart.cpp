#include "site/multipart.h"

#include "common/ascii.h"

namespace ringolan::site {

namespace {

// The value of `key` among the ";"-separated parameters of a header value. A quoted value
// runs to the next quote and may hold ";"; backslashes are kept (file names are local paths).
std::optional<std::string> parameter(std::string_view header_value, std::string_view key) {
    std::size_t i = header_value.find(';');
    while (i != std::string_view::npos && i < header_value.size()) {
        ++i;
        while (i < header_value.size() && (header_value[i] == ' ' || header_value[i] == '\t')) ++i;
        const std::size_t eq = header_value.find_first_of("=;", i);
        if (eq == std::string_view::npos || header_value[eq] == ';') {
            i = eq;
            continue;
        }
        const std::string_view name = text::trim(header_value.substr(i, eq - i));
        std::string value;
        std::size_t j = eq + 1;
        while (j < header_value.size() && header_value[j] == ' ') ++j;
        if (j < header_value.size() && header_value[j] == '"') {
            for (++j; j < header_value.size() && header_value[j] != '"'; ++j) value += header_value[j];
            if (j < header_value.size()) ++j;
            i = header_value.find(';', j);
        } else {
            const std::size_t semi = header_value.find(';', j);
            value = std::string(text::trim(header_value.substr(j, semi == std::string_view::npos ? std::string_view::npos : semi - j)));
            i = semi;
        }
        if (text::equal_ignoring_case(name, key)) return value;
    }
    return std::nullopt;
}

std::size_t line_end(std::string_view body, std::size_t from) {
    const std::size_t lf = body.find('\n', from);
    return lf == std::string_view::npos ? body.size() : lf;
}

FormPart read_part(std::string_view part) {
    // An empty header block leaves the part starting with its empty line.
    const std::size_t blank = part.starts_with("\r\n") ? 0 : part.find("\r\n\r\n");
    if (blank == std::string_view::npos) throw MultipartError("a part has no empty line after its headers");
    FormPart out;
    bool disposition = false;
    std::string_view headers = part.substr(0, blank);
    while (!headers.empty()) {
        const std::size_t eol = headers.find("\r\n");
        const std::string_view line = headers.substr(0, eol);
        headers = eol == std::string_view::npos ? std::string_view() : headers.substr(eol + 2);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) throw MultipartError("a part has a header line without \":\"");
        const std::string_view name = text::trim(line.substr(0, colon));
        const std::string_view value = text::trim(line.substr(colon + 1));
        if (text::equal_ignoring_case(name, "Content-Disposition")) {
            const std::size_t semi = value.find(';');
            if (!text::equal_ignoring_case(text::trim(value.substr(0, semi)), "form-data"))
                throw MultipartError("a part is not of the kind form-data");
            std::optional<std::string> field = parameter(value, "name");
            if (!field) throw MultipartError("a part has no field name");
            out.name = std::move(*field);
            out.filename = parameter(value, "filename");
            disposition = true;
        } else if (text::equal_ignoring_case(name, "Content-Type")) {
            out.content_type = std::string(value);
        }
    }
    if (!disposition) throw MultipartError("a part has no Content-Disposition line");
    out.data = std::string(part.substr(blank == 0 ? 2 : blank + 4));
    return out;
}

}  // namespace

std::string form_boundary(std::string_view content_type) {
    const std::size_t semi = content_type.find(';');
    if (!text::equal_ignoring_case(text::trim(content_type.substr(0, semi)), "multipart/form-data"))
        throw MultipartError("the request is not multipart/form-data");
    std::optional<std::string> boundary = parameter(content_type, "boundary");
    if (!boundary || boundary->empty()) throw MultipartError("the request's content type names no boundary");
    return *boundary;
}

std::vector<FormPart> parse_multipart(std::string_view body, std::string_view boundary) {
    const std::string delimiter = "--" + std::string(boundary);
    // The first delimiter may open the body; every later one follows a line break.
    std::size_t at = 0;
    if (!body.starts_with(delimiter)) {
        at = body.find("\r\n" + delimiter);
        if (at == std::string_view::npos) throw MultipartError("the body holds no part delimiter");
        at += 2;
    }
    std::vector<FormPart> parts;
    const std::string next_delimiter = "\r\n" + delimiter;
    for (;;) {
        std::size_t after = at + delimiter.size();
        if (body.substr(after, 2) == "--") return parts;  // closing delimiter
        after = line_end(body, after);  // transport padding up to the line end
        if (after == body.size()) throw MultipartError("the body ends inside a delimiter line");
        const std::size_t start = after + 1;
        const std::size_t next = body.find(next_delimiter, start);
        if (next == std::string_view::npos) throw MultipartError("the body has no closing delimiter");
        parts.push_back(read_part(body.substr(start, next - start)));
        at = next + 2;
    }
}

const FormPart* find_part(const std::vector<FormPart>& parts, std::string_view name) {
    for (const FormPart& p : parts)
        if (p.name == name) return &p;
    return nullptr;
}

}  // namespace ringolan::site
