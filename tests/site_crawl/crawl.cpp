#include "tests/site_crawl/crawl.h"

#include <cctype>
#include <deque>
#include <set>

namespace ringolan::crawl {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lower(c);
    return out;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// Attributes of one tag: the text between the tag name and its ">" (quotes respected).
struct Attribute {
    std::string name;
    std::string value;
};

// Parses attributes from `pos` up to the closing ">"; `pos` ends after it.
std::vector<Attribute> read_attributes(std::string_view html, std::size_t& pos) {
    std::vector<Attribute> out;
    const std::size_t n = html.size();
    while (pos < n) {
        while (pos < n && (blank(html[pos]) || html[pos] == '/')) ++pos;
        if (pos >= n) break;
        if (html[pos] == '>') {
            ++pos;
            break;
        }
        const std::size_t name_start = pos;
        while (pos < n && !blank(html[pos]) && html[pos] != '=' && html[pos] != '>') ++pos;
        Attribute a{lowered(html.substr(name_start, pos - name_start)), {}};
        std::size_t look = pos;
        while (look < n && blank(html[look])) ++look;
        if (look < n && html[look] == '=') {
            pos = look + 1;
            while (pos < n && blank(html[pos])) ++pos;
            if (pos < n && (html[pos] == '"' || html[pos] == '\'')) {
                const char quote = html[pos++];
                const std::size_t end = html.find(quote, pos);
                const std::size_t stop = end == std::string_view::npos ? n : end;
                a.value = std::string(html.substr(pos, stop - pos));
                pos = stop == n ? n : stop + 1;
            } else {
                const std::size_t start = pos;
                while (pos < n && !blank(html[pos]) && html[pos] != '>') ++pos;
                a.value = std::string(html.substr(start, pos - start));
            }
        }
        out.push_back(std::move(a));
    }
    return out;
}

bool has_scheme(std::string_view link) {
    // RFC 3986: ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
    if (link.empty() || !std::isalpha(static_cast<unsigned char>(link[0]))) return false;
    for (std::size_t i = 1; i < link.size(); ++i) {
        const char c = link[i];
        if (c == ':') return true;
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
    }
    return false;
}

// Removes "." and ".." segments of an absolute path (RFC 3986, 5.2.4).
std::string remove_dot_segments(std::string_view path) {
    std::vector<std::string> segments;
    std::size_t pos = 1;  // after the leading "/"
    bool trailing_slash = false;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view seg = path.substr(pos, end - pos);
        const bool last = end == path.size();
        if (seg == ".") {
            trailing_slash = last;
        } else if (seg == "..") {
            if (!segments.empty()) segments.pop_back();
            trailing_slash = last;
        } else {
            segments.emplace_back(seg);
            trailing_slash = false;
        }
        pos = end + 1;
    }
    std::string out;
    for (const auto& s : segments) {
        out += '/';
        out += s;
    }
    if (out.empty() || trailing_slash) out += "/";
    return out;
}

std::string percent_encode(std::string_view address, bool high_bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : address) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7F || (high_bytes && b >= 0x80)) {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::vector<Link> extract_links(std::string_view html) {
    std::vector<Link> links;
    std::size_t pos = 0;
    while ((pos = html.find('<', pos)) != std::string_view::npos) {
        ++pos;
        if (html.substr(pos, 3) == "!--") {
            const std::size_t end = html.find("-->", pos + 3);
            pos = end == std::string_view::npos ? html.size() : end + 3;
            continue;
        }
        const std::size_t name_start = pos;
        while (pos < html.size() && std::isalnum(static_cast<unsigned char>(html[pos]))) ++pos;
        const std::string tag = lowered(html.substr(name_start, pos - name_start));
        if (tag.empty()) continue;
        const std::vector<Attribute> attributes = read_attributes(html, pos);
        const char* wanted = nullptr;
        LinkKind kind = LinkKind::Anchor;
        if (tag == "a") {
            wanted = "href";
        } else if (tag == "img") {
            wanted = "src";
            kind = LinkKind::Picture;
        } else if (tag == "frame" || tag == "iframe") {
            wanted = "src";
            kind = LinkKind::Frame;
        }
        if (!wanted) continue;
        for (const auto& a : attributes) {
            if (a.name == wanted) {
                links.push_back({kind, a.value});
                break;  // the first of a repeated attribute counts, as in browsers
            }
        }
    }
    return links;
}

std::string resolve(std::string_view base, std::string_view link) {
    if (const std::size_t hash = link.find('#'); hash != std::string_view::npos) link = link.substr(0, hash);
    if (link.empty() || has_scheme(link) || link.substr(0, 2) == "//") return {};
    std::string_view link_path = link;
    std::string_view link_query;
    bool has_query = false;
    if (const std::size_t q = link.find('?'); q != std::string_view::npos) {
        link_path = link.substr(0, q);
        link_query = link.substr(q + 1);
        has_query = true;
    }
    const std::string_view base_path = base.substr(0, base.find('?'));
    std::string merged;
    if (link_path.empty()) {
        merged = std::string(base_path);  // "?x=1" keeps the page, replaces its query
    } else if (link_path[0] == '/') {
        merged = std::string(link_path);
    } else {
        const std::size_t slash = base_path.rfind('/');
        merged = base_path.substr(0, slash == std::string_view::npos ? 0 : slash);
        merged += '/';
        merged += link_path;
    }
    std::string out = remove_dot_segments(merged);
    if (has_query) {
        out += '?';
        out += link_query;
    }
    return out;
}

std::string request_target(std::string_view address) { return percent_encode(address, false); }

std::string browser_target(std::string_view address) { return percent_encode(address, true); }

std::string document_path(std::string_view address) {
    const std::string_view path = address.substr(0, address.find('?'));
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '%' && i + 2 < path.size() + 0 && hex_value(path[i + 1]) >= 0 && hex_value(path[i + 2]) >= 0) {
            out += char(hex_value(path[i + 1]) * 16 + hex_value(path[i + 2]));
            i += 2;
        } else {
            out += path[i];
        }
    }
    return out;
}

Response parse_response(std::string_view raw) {
    Response r;
    const std::size_t head_end = raw.find("\r\n\r\n");
    if (raw.substr(0, 5) != "HTTP/" || head_end == std::string_view::npos) return r;
    const std::size_t line_end = raw.find("\r\n");
    const std::string_view status_line = raw.substr(0, line_end);
    const std::size_t sp = status_line.find(' ');
    if (sp == std::string_view::npos) return r;
    int status = 0;
    for (std::size_t i = sp + 1; i < status_line.size() && std::isdigit(static_cast<unsigned char>(status_line[i])); ++i)
        status = status * 10 + (status_line[i] - '0');
    std::size_t pos = line_end + 2;
    while (pos < head_end) {
        std::size_t end = raw.find("\r\n", pos);
        const std::string_view line = raw.substr(pos, end - pos);
        pos = end + 2;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string name = lowered(line.substr(0, colon));
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && blank(value.front())) value.remove_prefix(1);
        if (name == "content-type") r.content_type = std::string(value);
        if (name == "content-length") {
            r.content_length = 0;
            for (char c : value) {
                if (!std::isdigit(static_cast<unsigned char>(c))) break;
                r.content_length = r.content_length * 10 + (c - '0');
            }
        }
    }
    r.status = status;
    r.body = std::string(raw.substr(head_end + 4));
    return r;
}

CrawlResult crawl(const std::vector<std::string>& seeds, const std::function<Response(const std::string&)>& fetch,
                  const CrawlOptions& options) {
    CrawlResult result;
    struct Pending {
        std::string address, referrer;
        LinkKind kind;
    };
    std::deque<Pending> queue;
    std::set<std::string> known, external;
    for (const auto& s : seeds) {
        if (known.insert(s).second) queue.push_back({s, "", LinkKind::Anchor});
    }
    while (!queue.empty()) {
        if (result.visits.size() >= options.max_addresses) {
            result.bounded = true;
            break;
        }
        Pending p = std::move(queue.front());
        queue.pop_front();
        Visit v{p.address, p.referrer, p.kind, fetch(p.address)};
        if (v.response.content_type.rfind("text/html", 0) == 0) {
            for (const Link& link : extract_links(v.response.body)) {
                std::string to = resolve(v.address, link.target);
                if (to.empty()) {
                    if (!link.target.empty() && link.target[0] != '#' && external.insert(link.target).second)
                        result.external.push_back(link.target);
                    continue;
                }
                if (link.kind == LinkKind::Picture) result.pictures.emplace(to, v.address);
                if (known.count(to)) continue;
                if (options.follow && !options.follow(to)) {
                    ++result.skipped[to];
                    continue;
                }
                known.insert(to);
                queue.push_back({std::move(to), v.address, link.kind});
            }
        }
        result.visits.push_back(std::move(v));
    }
    return result;
}

}  // namespace ringolan::crawl
