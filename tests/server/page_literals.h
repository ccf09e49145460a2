// Pages of the frame typed from their description, for comparing whole pages in tests.
#pragma once

#include <string>

namespace ringolan::test_pages {

// Typed line by line from the page frame's description.
inline const std::string kHead =
    "<HTML><HEAD>    <TITLE>KORVAN Ringolan</TITLE> <style fprolloverstyle>A:hover {color: #7DD2F7}</style> <script type='text/javascript'><!--" "\r"
    "function right(){" "\r"
    "if(event.button==2||event.button==3){" "\r"
    "  var message=\"\\\"\\\"\";" "\r"
    "  function clickIE() {if (document.all) {(message);return false;}}" "\r"
    "  function clickNS(e) {if (document.layers||(document.getElementById&&!document.all)){" "\r"
    "    if (e.which==2||e.which==3) {(message);return false;}}}" "\r"
    "if (document.layers){document.captureEvents(Event.MOUSEDOWN);document.onmousedown=clickNS;}" "\r"
    "  else{document.onmouseup=clickNS;document.oncontextmenu=clickIE;}" "\r"
    "}}" "\r"
    "document.onmousedown=right;" "\r"
    "//--></script>" "\r"
    "</HEAD>" "\r"
    "<body bgcolor=\"#F7EBD6\" text=\"#000000\" vlink=\"#083986\" alink=\"#FF0000\" link=\"#083986\"> " "\r";
inline const std::string kFoot = "\r</body></html>";
inline const std::string kNotFound =
    "<html><head><title>Error</title></head><body><h1> Seite ist nicht vorhanden </h1></body></html>";

inline std::string frameset(const std::string& source) {
    return "<HTML><HEAD><TITLE>   Beginn der Titelinformation</TITLE></HEAD>\r<FRAMESET ROWS=\"40,100%\" border=0>\r"
           "<FRAME SRC=\"navi.html\" NAME=\"Verweisfenster\" scrolling=\"no\">\r<FRAME SRC=\"" +
           source + "\" NAME=\"Hauptfenster\">\r" + "</FRAMESET>\r" + "<BODY></BODY></HTML>\r" + "\r</body></html>";
}

}  // namespace ringolan::test_pages
