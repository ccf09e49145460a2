// start.php: the whole document typed from its description, and the three settings.
#include <gtest/gtest.h>

#include <string>

#include "pages/start.h"
#include "server/page_routes.h"

namespace {

using ringolan::pages::PageContext;

const std::string kDocStart =
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\"><meta http-equiv=\"Content-Language\" "
    "content=\"de\"><title>Homepage</title><style>A:hover {color: #0099FF}</style><script type='text/javascript'><!--\r"
    "function right(){\rif(event.button==2||event.button==3){\r  var message=\"\\\"\\\"\";\r"
    "  function clickIE() {if (document.all) {(message);return false;}}\r"
    "  function clickNS(e) {if (document.layers||(document.getElementById&&!document.all)){\r"
    "    if (e.which==2||e.which==3) {(message);return false;}}}\r"
    "if (document.layers){document.captureEvents(Event.MOUSEDOWN);document.onmousedown=clickNS;}\r"
    "  else{document.onmouseup=clickNS;document.oncontextmenu=clickIE;}\r}}\rdocument.onmousedown=right;\r"
    "//--></script>\r</head><body bgcolor=\"#F7EBD6\" text=\"#000000\" vlink=\"#0000FF\" alink=\"#FF0000\"><table border=\"0\" "
    "width=\"100%\">  <tr>    <td width=\"50%\">&nbsp;<blockquote><div align=\"center\">  <center>  <table border=\"0\" "
    "width=\"295\">";

// The alphabet written out cell by cell.
#define BOLD_IN_LINK(w, L) "      <td width=\"" w "\" align=\"center\"><font size=\"5\"><a href=\"rahmenofls.php?B=" L "\"><b>" L "</b></a></font></td>"
#define LINK_IN_BOLD(w, L) "      <td width=\"" w "\" align=\"center\"><font size=\"5\"><b><a href=\"rahmenofls.php?B=" L "\">" L "</a></b></font></td>"
#define LINK_IN_BOLD8(w, L) "      <td width=\"" w "\" align=\"center\"><font size=\"5\"><b><a href=\"rahmenofls.php?B=" L "\">" L "</a>        </b></font></td>"

const std::string kAlphabet =
    "    <tr>" BOLD_IN_LINK("14%", "A") BOLD_IN_LINK("14%", "\xC4") BOLD_IN_LINK("14%", "B") LINK_IN_BOLD("14%", "C")
    LINK_IN_BOLD("14%", "D") LINK_IN_BOLD8("15%", "E") LINK_IN_BOLD("15%", "F") "    </tr>"
    "    <tr>" LINK_IN_BOLD("14%", "G") LINK_IN_BOLD("14%", "H") LINK_IN_BOLD("14%", "I") LINK_IN_BOLD("14%", "J")
    LINK_IN_BOLD("14%", "K") LINK_IN_BOLD("15%", "L") LINK_IN_BOLD("15%", "M") "    </tr>"
    "    <tr>" LINK_IN_BOLD("14%", "N") LINK_IN_BOLD("14%", "O") LINK_IN_BOLD("14%", "\xD6") LINK_IN_BOLD("14%", "P")
    LINK_IN_BOLD("14%", "Q") LINK_IN_BOLD("15%", "R") LINK_IN_BOLD("15%", "S") "    </tr>"
    "    <tr>" LINK_IN_BOLD("14%", "T") LINK_IN_BOLD("14%", "U") LINK_IN_BOLD("14%", "V") LINK_IN_BOLD("14%", "W")
    LINK_IN_BOLD("14%", "X") LINK_IN_BOLD("15%", "Y") LINK_IN_BOLD8("15%", "Z") "    </tr>";

const std::string kLeftEnd =
    "  </table>  </center></div></blockquote>      <p align=\"center\">Klicken Sie auf den Anfangsbuchstaben Ihres Nachnamens"
    "      <p align=\"center\">&nbsp;      <p align=\"center\"><a href=\"rahmenvstbl.php\">Meistbeteilungsliste</a>| "
    "<a href=\"rahmenerlsel.php\">Ergebnislisten</a></td>";

const std::string kFixed = kDocStart + kAlphabet + kLeftEnd;

TEST(StartPage, DefaultsGivePictureCellAndDatesLink) {
    PageContext ctx;  // no database needed
    EXPECT_EQ(ringolan::pages::start_page(ctx),
              kFixed +
                  "<td width=\"50%\"><img border=\"0\" src=\"SScheibe.jpg\"></td>  </tr></table>"
                  "<a href=\"Termine.htm\">Aktuelle Termine</a> </body> </html>");
}

TEST(StartPage, SettingsAreInsertedAsTheyAre) {
    PageContext ctx;
    ctx.start.StartPicture = "bilder/Sch\xFCtzen \"1\".png";
    ctx.start.LinkText = "<i>Termine & mehr</i>";
    ctx.start.LinkTarget = "http://x/?a=1&b=2";
    EXPECT_EQ(ringolan::pages::start_page(ctx),
              kFixed + "<td width=\"50%\"><img border=\"0\" src=\"bilder/Sch\xFCtzen \"1\".png\"></td>  </tr></table>"
                       "<a href=\"http://x/?a=1&b=2\"><i>Termine & mehr</i></a> </body> </html>");
}

TEST(StartPage, EmptySettingsDropPictureCellOrLink) {
    PageContext ctx;
    ctx.start.StartPicture = "";
    EXPECT_EQ(ringolan::pages::start_page(ctx),
              kFixed + "  </tr></table><a href=\"Termine.htm\">Aktuelle Termine</a> </body> </html>");

    // The link depends on its text alone.
    ctx.start = {};
    ctx.start.LinkText = "";
    EXPECT_EQ(ringolan::pages::start_page(ctx),
              kFixed + "<td width=\"50%\"><img border=\"0\" src=\"SScheibe.jpg\"></td>  </tr></table> </body> </html>");
    ctx.start = {};
    ctx.start.LinkTarget = "";
    EXPECT_EQ(ringolan::pages::start_page(ctx),
              kFixed + "<td width=\"50%\"><img border=\"0\" src=\"SScheibe.jpg\"></td>  </tr></table>"
                       "<a href=\"\">Aktuelle Termine</a> </body> </html>");
    ctx.start = {"", "", ""};
    EXPECT_EQ(ringolan::pages::start_page(ctx), kFixed + "  </tr></table> </body> </html>");
}

TEST(StartPage, DispatchedUnframedAndTheSameForEveryQuery) {
    PageContext ctx;
    ctx.start.LinkText = "Neu";
    const std::string page = ringolan::pages::start_page(ctx);
    for (const char* query : {"", "B=A", "ST=<script>", "x=1&y=2", "'\""}) {
        for (const char* path : {"/start.php", "/START.PHP", "/x/start.php"}) {
            const auto r = ringolan::server::DispatchPage(ctx, path, query);
            EXPECT_EQ(r.status, 200) << path << "?" << query;
            EXPECT_EQ(r.body, page) << path << "?" << query;
        }
    }
    // A settings change shows on the next request.
    ctx.start.LinkText = "Anders";
    EXPECT_NE(ringolan::server::DispatchPage(ctx, "/start.php", "").body.find(">Anders</a>"), std::string::npos);
}

}  // namespace
