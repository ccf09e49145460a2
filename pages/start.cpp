#include "pages/start.h"

#include <string_view>

namespace ringolan::pages {

namespace {

constexpr std::string_view kDocumentStart =
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">"
    "<meta http-equiv=\"Content-Language\" content=\"de\"><title>Homepage</title>"
    "<style>A:hover {color: #0099FF}</style><script type='text/javascript'><!--\r"
    "function right(){\r"
    "if(event.button==2||event.button==3){\r"
    "  var message=\"\\\"\\\"\";\r"
    "  function clickIE() {if (document.all) {(message);return false;}}\r"
    "  function clickNS(e) {if (document.layers||(document.getElementById&&!document.all)){\r"
    "    if (e.which==2||e.which==3) {(message);return false;}}}\r"
    "if (document.layers){document.captureEvents(Event.MOUSEDOWN);document.onmousedown=clickNS;}\r"
    "  else{document.onmouseup=clickNS;document.oncontextmenu=clickIE;}\r"
    "}}\r"
    "document.onmousedown=right;\r"
    "//--></script>\r"
    "</head><body bgcolor=\"#F7EBD6\" text=\"#000000\" vlink=\"#0000FF\" alink=\"#FF0000\">"
    "<table border=\"0\" width=\"100%\">  <tr>    <td width=\"50%\">&nbsp;<blockquote><div align=\"center\">"
    "  <center>  <table border=\"0\" width=\"295\">";

constexpr std::string_view kLeftCellEnd =
    "  </table>  </center></div></blockquote>      <p align=\"center\">Klicken Sie auf den Anfangsbuchstaben "
    "Ihres Nachnamens      <p align=\"center\">&nbsp;      <p align=\"center\"><a href=\"rahmenvstbl.php\">"
    "Meistbeteilungsliste</a>| <a href=\"rahmenerlsel.php\">Ergebnislisten</a></td>";

// Four rows of seven initial letters; \xC4 and \xD6 are the Windows-1252 umlauts.
constexpr std::string_view kLetters[4] = {"A\xC4" "BCDEF", "GHIJKLM", "NO\xD6PQRS", "TUVWXYZ"};

void append_cell(std::string& out, char letter, std::string_view width) {
    out += "      <td width=\"";
    out += width;
    out += "\" align=\"center\"><font size=\"5\">";
    const std::string_view link_start = "<a href=\"rahmenofls.php?B=";
    if (letter == 'A' || letter == '\xC4' || letter == 'B') {
        out += link_start;
        out += letter;
        out += "\"><b>";
        out += letter;
        out += "</b></a>";
    } else {
        out += "<b>";
        out += link_start;
        out += letter;
        out += "\">";
        out += letter;
        out += "</a>";
        if (letter == 'E' || letter == 'Z') out += "        ";
        out += "</b>";
    }
    out += "</font></td>";
}

}  // namespace

std::string start_page(PageContext& ctx) {
    const StartSettings& s = ctx.start;
    std::string out(kDocumentStart);
    for (std::string_view row : kLetters) {
        out += "    <tr>";
        for (size_t i = 0; i < row.size(); ++i) append_cell(out, row[i], i < 5 ? "14%" : "15%");
        out += "    </tr>";
    }
    out += kLeftCellEnd;
    if (!s.StartPicture.empty()) {
        out += "<td width=\"50%\"><img border=\"0\" src=\"";
        out += s.StartPicture;
        out += "\"></td>";
    }
    out += "  </tr></table>";
    if (!s.LinkText.empty()) {
        out += "<a href=\"";
        out += s.LinkTarget;
        out += "\">";
        out += s.LinkText;
        out += "</a>";
    }
    out += " </body> </html>";
    return out;
}

}  // namespace ringolan::pages
