// A small site crawler for the page server: link extraction from 8-bit HTML, address resolution
// against a page's address, and a bounded breadth-first walk over a fetch function.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ringolan::crawl {

enum class LinkKind { Anchor, Picture, Frame };

struct Link {
    LinkKind kind;
    std::string target;  // the attribute value exactly as written
};

// Links of `<a href>`, `<img src>` and `<frame src>` (tag and attribute names in any case, values
// in double quotes, single quotes or bare, blanks around "=" allowed), in document order. Other
// attributes (target, name, ...) are ignored; tags inside script text are not special-cased.
std::vector<Link> extract_links(std::string_view html);

// The address a link leads to from the page at `base` (an origin-relative address such as
// "/est.php?ST=3"): absolute paths are kept, relative ones are joined to the base's folder,
// "." and ".." segments are removed, the fragment is dropped. The query text stays byte for byte
// as written. Empty when the link leaves the server (a scheme such as "http:" or "mailto:", or
// "//host") or names only a fragment.
std::string resolve(std::string_view base, std::string_view link);

// The address as a request target: bytes that cannot stand in a request line (control bytes and
// the blank) are percent-encoded; everything else, bytes above 127 included, is sent as written.
std::string request_target(std::string_view address);

// The address as a browser sends it: also bytes above 127 percent-encoded.
std::string browser_target(std::string_view address);

// The document path of an address: before the first "?", percent-decoded.
std::string document_path(std::string_view address);

struct Response {
    int status = 0;             // 0 when the answer could not be parsed
    std::string content_type;
    long long content_length = -1;
    std::string body;
};

// Parses a whole HTTP/1.x answer (status line, headers, body up to the connection's end).
Response parse_response(std::string_view raw);

struct Visit {
    std::string address;
    std::string referrer;  // the page that linked here first ("" for a seed)
    LinkKind kind = LinkKind::Anchor;
    Response response;
};

struct CrawlOptions {
    std::size_t max_addresses = 20000;
    // Decides whether a newly found address is followed; the default follows everything.
    std::function<bool(const std::string& address)> follow;
};

struct CrawlResult {
    std::vector<Visit> visits;                    // in crawl order, each address once
    std::map<std::string, std::size_t> skipped;   // addresses left out by `follow`, with a count of links
    std::vector<std::string> external;            // links that leave the server
    std::map<std::string, std::string> pictures;  // every picture address, with a page showing it
    bool bounded = false;                         // stopped at max_addresses with addresses left
};

// Breadth-first from the seeds. Links are followed only out of answers whose content type is
// text/html; every address is fetched once, whatever kind of link found it first.
CrawlResult crawl(const std::vector<std::string>& seeds, const std::function<Response(const std::string&)>& fetch,
                  const CrawlOptions& options = {});

}  // namespace ringolan::crawl
