// The page server as the window starts, stops and shows it.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>
#include <QMenu>
#include <QSystemTrayIcon>

#include "app/window/icons.h"
#include "app/window/state_circle.h"
#include "window_fixture.h"

namespace ringolan::window::testing {
namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);

void expect_display(const WindowUnderTest& w, const char* state, const char* button, const char* menu,
                    const QColor& circle) {
    EXPECT_EQ(w.label("Label9"), QString::fromUtf8(state));
    EXPECT_EQ(w.button("Button2"), QString::fromUtf8(button));
    EXPECT_EQ(w.child<QAction>("Webserverstoppen1")->text(), QString::fromUtf8(menu));
    EXPECT_EQ(w.child<StateCircle>("Shape1")->color(), circle);
}

using WindowServer = WindowTest;

TEST_F(WindowServer, TickedCBWSStartsTheServerAtCreation) {
    write_ini(true);
    auto w = open();
    EXPECT_TRUE(w->messages.empty()) << w->messages.front().toStdString();
    EXPECT_TRUE(w->child<QCheckBox>("CBWS")->isChecked());
    expect_display(*w, "aktiv", "Stoppen", "Webserver stoppen", kGreen);
    EXPECT_EQ(w->window->iconState(), kIconRunning);
    EXPECT_EQ(w->window->windowTitle(), "inactive");  // set once before the start, never changed

    const uint16_t port = w->loopback_port();
    ASSERT_NE(port, 0);
    const std::string answer = http_get(port, "/vstbl.php");
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.substr(0, 200);
    // The page also reaches Memo3, on the window's thread.
    const auto body = answer.substr(answer.find("\r\n\r\n") + 4);
    ASSERT_TRUE(wait_for([&] { return !w->child<QPlainTextEdit>("Memo3")->toPlainText().isEmpty(); }));
    EXPECT_EQ(to_cp1252(w->child<QPlainTextEdit>("Memo3")->toPlainText()).size(), body.size());
}

// The text as a plain-text control shows it: every line end one "\n".
std::string lines_of(std::string text) {
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n");
    std::replace(text.begin(), text.end(), '\r', '\n');
    return text;
}

TEST_F(WindowServer, Memo3HoldsTheLastPageSentTheNotFoundPageIncluded) {
    write_ini(true);
    auto w = open();
    const uint16_t port = w->loopback_port();
    ASSERT_NE(port, 0);
    auto* memo = w->child<QPlainTextEdit>("Memo3");
    std::string body;
    for (const char* target : {"/vstbl.php", "/erlsel.php", "/gibtsnicht.php"}) {
        const std::string answer = http_get(port, target);
        body = answer.substr(answer.find("\r\n\r\n") + 4);
    }
    ASSERT_TRUE(wait_for([&] { return lines_of(to_cp1252(memo->toPlainText())) == lines_of(body); }))
        << to_cp1252(memo->toPlainText()).substr(0, 300) << "\n----\n" << body.substr(0, 300);
    // Files are not shown there.
    http_get(port, "/index.html");
    QTest::qWait(100);
    EXPECT_EQ(lines_of(to_cp1252(memo->toPlainText())), lines_of(body));
}

TEST_F(WindowServer, ClearCBWSLeavesTheServerNeverStarted) {
    write_ini(false);
    auto w = open();
    EXPECT_FALSE(w->window->serverRunning());
    expect_display(*w, "Nicht aktiv", "Starten", "Webserver starten", kRed);
    EXPECT_EQ(w->window->iconState(), kIconDesign);
}

TEST_F(WindowServer, Button2StopsAndStartsAgain) {
    write_ini(true);
    auto w = open();
    const uint16_t first = w->loopback_port();
    ASSERT_NE(first, 0);

    w->child<QAbstractButton>("Button2")->click();
    expect_display(*w, "gestoppt", "Starten", "Webserver starten", kRed);
    EXPECT_EQ(w->window->iconState(), kIconStopped);
    EXPECT_EQ(http_get(first, "/vstbl.php"), "");  // nothing listens any more

    w->child<QAbstractButton>("Button2")->click();
    expect_display(*w, "aktiv", "Stoppen", "Webserver stoppen", kGreen);
    EXPECT_EQ(w->window->iconState(), kIconRunning);
    EXPECT_NE(http_get(w->loopback_port(), "/vstbl.php"), "");
}

TEST_F(WindowServer, TrayMenuItemStopsAndStartsLikeButton2) {
    write_ini(true);
    auto w = open();
    QAction* item = w->child<QAction>("Webserverstoppen1");
    EXPECT_TRUE(w->window->trayMenu()->actions().contains(item));
    item->trigger();
    expect_display(*w, "gestoppt", "Starten", "Webserver starten", kRed);
    EXPECT_FALSE(w->window->serverRunning());
    item->trigger();
    expect_display(*w, "aktiv", "Stoppen", "Webserver stoppen", kGreen);
    EXPECT_TRUE(w->window->serverRunning());
}

TEST_F(WindowServer, SecondInstanceOnATakenPortShowsTheMessageAndStaysNotActive) {
    write_ini(true);
    const uint16_t port = free_port();
    auto first = open(port);
    ASSERT_TRUE(first->window->serverRunning()) << (first->messages.empty() ? "" : first->messages[0].toStdString());

    auto second = open(port);
    ASSERT_EQ(second->messages.size(), 1u);
    const QString message = second->messages[0];
    EXPECT_TRUE(message.startsWith("Exception std::runtime_error in Activate. Error is:\"")) << message.toStdString();
    EXPECT_TRUE(message.endsWith("\".")) << message.toStdString();
    EXPECT_GT(message.size(), QString("Exception std::runtime_error in Activate. Error is:\"\".").size());
    EXPECT_FALSE(second->window->serverRunning());
    expect_display(*second, "Nicht aktiv", "Starten", "Webserver starten", kRed);
    EXPECT_EQ(second->window->iconState(), kIconDesign);

    // Trying again while the port is still taken changes nothing either.
    second->child<QAbstractButton>("Button2")->click();
    EXPECT_EQ(second->messages.size(), 2u);
    expect_display(*second, "Nicht aktiv", "Starten", "Webserver starten", kRed);
    // The first instance serves on.
    EXPECT_NE(http_get(port, "/vstbl.php"), "");
}

TEST_F(WindowServer, ConnectionShowsTheActivityIconForOneSecond) {
    write_ini(true);
    auto w = open();
    const uint16_t port = w->loopback_port();
    ASSERT_NE(port, 0);
    ASSERT_EQ(w->window->iconState(), kIconRunning);

    http_get(port, "/");
    ASSERT_TRUE(wait_for([&] { return w->window->iconState() == kIconActivity; }, 2000));
    QElapsedTimer since;
    since.start();
    // A second connection half-way through does not lengthen the second.
    QTest::qWait(500);
    http_get(port, "/");
    ASSERT_TRUE(wait_for([&] { return w->window->iconState() == kIconRunning; }, 3000));
    EXPECT_LT(since.elapsed(), 1400);  // lengthened, it would end 1500 ms after the first
    EXPECT_GT(since.elapsed(), 400);
    EXPECT_EQ(w->window->trayIcon()->icon().pixmap(16).toImage(), state_image(kIconRunning));
}

TEST_F(WindowServer, StoppingDuringActivityKeepsTheStoppedIcon) {
    write_ini(true);
    auto w = open();
    http_get(w->loopback_port(), "/");
    ASSERT_TRUE(wait_for([&] { return w->window->iconState() == kIconActivity; }, 2000));
    w->child<QAbstractButton>("Button2")->click();
    EXPECT_EQ(w->window->iconState(), kIconStopped);
    QTest::qWait(1300);
    EXPECT_EQ(w->window->iconState(), kIconStopped);
}

TEST_F(WindowServer, MissingDatabaseIsReportedAndTheServerStartsAnyway) {
    write(ini(), "[DB]\r\nName=" + (root() / "fehlt.mdb").string() + "\r\n[Webserver]\r\nAktive=1\r\n");
    auto w = open();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], QString::fromUtf8("Datenbank konnte nicht geöffnet werden!"));
    EXPECT_TRUE(w->window->serverRunning());
    EXPECT_EQ(w->label("Label9"), "aktiv");
    // Pages fail, files are still served.
    const std::string page = http_get(w->loopback_port(), "/vstbl.php");
    EXPECT_EQ(page.rfind("HTTP/1.1 500", 0), 0u) << page.substr(0, 100);
}

// The distinct addresses in their first order; "0.0.0.0" alone when there are none.
QStringList expected_bindings(const std::vector<std::string>& addresses) {
    QStringList distinct;
    for (const auto& a : addresses) distinct << QString::fromStdString(a);
    distinct.removeDuplicates();
    return distinct.isEmpty() ? QStringList{"0.0.0.0"} : distinct;
}

QStringList bound_addresses(const WindowUnderTest& w) {
    QStringList bound;
    for (const auto& b : w.window->serverEndpoints()) bound << QString::fromStdString(b.address);
    return bound;
}

TEST_F(WindowServer, AddressListEndsWithLoopbackAndFeedsTheBindings) {
    write_ini(true);
    auto w = open();
    const QStringList lines =
        w->child<QPlainTextEdit>("Memo1")->toPlainText().split('\n', Qt::SkipEmptyParts);
    EXPECT_FALSE(w->child<QPlainTextEdit>("Memo1")->isEnabled());
    QStringList listening;
    for (const auto& a : w->window->listenAddresses()) listening << QString::fromStdString(a);
    EXPECT_EQ(lines, listening);  // the box shows the addresses
    // One listening address per distinct address; none: all addresses.
    EXPECT_EQ(bound_addresses(*w), expected_bindings(w->window->listenAddresses()));
    if (!lines.isEmpty()) {
        EXPECT_TRUE(lines.front() == "127.0.0.1" || lines.back() == "127.0.0.1") << lines.join(',').toStdString();
    }
}

// The box only shows the addresses: what it holds is not read back when the server starts.
TEST_F(WindowServer, StartBindsTheListeningAddressesWhateverTheBoxHolds) {
    write_ini(false);
    auto w = open();
    w->child<QPlainTextEdit>("Memo1")->setPlainText("10.255.255.1\n10.255.255.2");
    w->child<QAbstractButton>("Button2")->click();
    ASSERT_TRUE(w->window->serverRunning()) << (w->messages.empty() ? "" : w->messages[0].toStdString());
    EXPECT_EQ(bound_addresses(*w), expected_bindings(w->window->listenAddresses()));
}

}  // namespace
}  // namespace ringolan::window::testing
