#include "server/dispatcher.h"

#include "common/escape.h"

#include "server/page_routes.h"

namespace ringolan::server {

namespace {

// The page head: fourteen lines, each ended by a carriage return.
#define HEAD_LINE(text) text "\r"
constexpr char kHead[] =
    HEAD_LINE(R"(<HTML><HEAD>    <TITLE>KORVAN Ringolan</TITLE> <style fprolloverstyle>A:hover {color: #7DD2F7}</style> <script type='text/javascript'><!--)")
    HEAD_LINE(R"(function right(){)")
    HEAD_LINE(R"(if(event.button==2||event.button==3){)")
    HEAD_LINE(R"(  var message="\"\"";)")
    HEAD_LINE(R"(  function clickIE() {if (document.all) {(message);return false;}})")
    HEAD_LINE(R"(  function clickNS(e) {if (document.layers||(document.getElementById&&!document.all)){)")
    HEAD_LINE(R"(    if (e.which==2||e.which==3) {(message);return false;}}})")
    HEAD_LINE(R"(if (document.layers){document.captureEvents(Event.MOUSEDOWN);document.onmousedown=clickNS;})")
    HEAD_LINE(R"(  else{document.onmouseup=clickNS;document.oncontextmenu=clickIE;})")
    HEAD_LINE(R"(}})")
    HEAD_LINE(R"(document.onmousedown=right;)")
    HEAD_LINE(R"(//--></script>)")
    HEAD_LINE(R"(</HEAD>)")
    HEAD_LINE(R"(<body bgcolor="#F7EBD6" text="#000000" vlink="#083986" alink="#FF0000" link="#083986"> )");
#undef HEAD_LINE

constexpr char kFoot[] = "\r</body></html>";
constexpr char kNotFound[] =
    R"(<html><head><title>Error</title></head><body><h1> Seite ist nicht vorhanden </h1></body></html>)";

constexpr std::string_view kFramesetStart =
    "<HTML><HEAD><TITLE>   Beginn der Titelinformation</TITLE></HEAD>\r"
    R"(<FRAMESET ROWS="40,100%" border=0>)" "\r"
    R"(<FRAME SRC="navi.html" NAME="Verweisfenster" scrolling="no">)" "\r"
    R"(<FRAME SRC=")";
constexpr std::string_view kFrameEnd = R"(" NAME="Hauptfenster">)" "\r";
constexpr std::string_view kFramesetEnd = "</FRAMESET>\r";
constexpr std::string_view kEmptyBody = "<BODY></BODY></HTML>\r";

constexpr size_t kFrameSourceOffset = 6;    // drops "/rahme", keeps the "n"
constexpr size_t kFrameSourceLength = 255;


}  // namespace

const std::string_view kPageHead{kHead, sizeof kHead - 1};
const std::string_view kPageFoot{kFoot, sizeof kFoot - 1};
const std::string_view kNotFoundPage{kNotFound, sizeof kNotFound - 1};

std::string FramesetPage(std::string_view text) {
    const std::string_view source =
        text.size() > kFrameSourceOffset ? text.substr(kFrameSourceOffset, kFrameSourceLength) : std::string_view{};
    std::string page;
    page.reserve(kFramesetStart.size() + source.size() + 128);
    page += kFramesetStart;
    page += text::escape_request_text(source);
    page += kFrameEnd;
    page += kFramesetEnd;
    page += kEmptyBody;
    page += kPageFoot;
    return page;
}

PageResult DispatchPage(std::span<const PageRoute> routes, pages::PageContext& ctx,
                        std::string_view document_path, std::string_view query) {
    const std::string path = ascii_lower(document_path);
    PageResult result{std::string(kNotFoundPage), 404};
    if (path.find("rahmen") != std::string::npos) {
        std::string text = path;
        text += '?';
        text += query;
        return {FramesetPage(text), 200};
    }
    for (const PageRoute& route : routes) {
        if (path.find(route.needle) == std::string::npos) continue;
        std::string fragment = route.generate(ctx, query);
        if (route.framed) {
            std::string page;
            page.reserve(kPageHead.size() + fragment.size() + kPageFoot.size());
            page += kPageHead;
            page += fragment;
            page += kPageFoot;
            result.body = std::move(page);
        } else {
            result.body = std::move(fragment);
        }
        result.status = 200;
    }
    return result;
}

}  // namespace ringolan::server
