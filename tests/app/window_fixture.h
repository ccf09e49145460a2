// The main window under test: an offscreen Qt application, a temporary home, a small demo
// competition, and a window whose message boxes and desktop calls are recorded instead of shown.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings/settings_store.h"
#include "app/window/main_window.h"
#include "db/dm/results_database.h"
#include "temp_env.h"
#include "tools/mkdemo/demo.h"

namespace ringolan::window::testing {

namespace fs = std::filesystem;

// One QApplication for the whole test program, on the offscreen platform so no display is needed.
inline QApplication& qt_app() {
    static int argc = 1;
    static char name[] = "window_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* a = new QApplication(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Ringolan"));
        return a;
    }();
    return *app;
}

// Sends one request to 127.0.0.1:port and returns everything the server wrote; empty when
// nothing listens there.
inline std::string http_get(uint16_t port, const std::string& target) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + target + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
        (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[8192];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return answer;
}

// A port that was free a moment ago.
inline uint16_t free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// A window with everything it needs; the store and the database outlive it.
struct WindowUnderTest {
    setup::SettingsStore settings;
    db::ResultsDatabase database;
    std::vector<QString> messages;  // plain message boxes and error boxes, in order
    std::vector<QUrl> opened;       // addresses handed to the desktop
    std::unique_ptr<MainWindow> window;

    WindowUnderTest(const fs::path& ini, const fs::path& program_dir, uint16_t port) : settings(ini) {
        settings.LoadSettings();
        WindowOptions options;
        options.program_dir = program_dir;
        options.port = port;
        options.message = [this](const QString& text) { messages.push_back(text); };
        options.error = [this](const QString& text) { messages.push_back(text); };
        options.open_url = [this](const QUrl& url) { opened.push_back(url); };
        window = std::make_unique<MainWindow>(settings, database, options);
    }

    template <class T>
    T* child(const char* name) const {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString label(const char* name) const { return child<QLabel>(name)->text(); }
    QString button(const char* name) const { return child<QAbstractButton>(name)->text(); }

    // The port the page server listens on at 127.0.0.1 (or on all addresses); 0 when none.
    uint16_t loopback_port() const {
        for (const auto& bound : window->serverEndpoints())
            if (bound.address == "127.0.0.1" || bound.address == "0.0.0.0") return bound.port;
        return 0;
    }
};

class WindowTest : public setup::testing::TempFolderTest {
protected:
    static void SetUpTestSuite() {
        qt_app();
        std::string tmpl = (fs::temp_directory_path() / "ringolan-window-demo-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        demo_dir_ = new fs::path(tmpl);
        demo::write_demo(demo::make_demo(demo::DemoOptions{12, 3, true}), *demo_dir_ / "demo.mdb");
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(*demo_dir_, ec);
        delete demo_dir_;
        demo_dir_ = nullptr;
    }

    void SetUp() override {
        TempFolderTest::SetUp();
        fs::create_directories(program_dir());
    }

    static fs::path demo_file() { return *demo_dir_ / "demo.mdb"; }
    fs::path program_dir() const { return root() / "prog"; }
    fs::path ini() const { return program_dir() / "ringolan.ini"; }

    // A settings file naming the demo competition, with the server switched on or off.
    void write_ini(bool server_active, const std::string& more_webserver_keys = "") {
        write(ini(), "[DB]\r\nName=" + demo_file().string() + "\r\n[Webserver]\r\nAktive=" +
                         (server_active ? "1" : "0") + "\r\ntaskicon=0\r\n" + more_webserver_keys +
                         "[Startseite]\r\nbild=SScheibe.jpg\r\ntext=Aktuelle Termine\r\nhtml=Termine.htm\r\n");
    }

    std::unique_ptr<WindowUnderTest> open(uint16_t port = 0) {
        return std::make_unique<WindowUnderTest>(ini(), program_dir(), port);
    }

    // Lets queued calls from the server threads reach the window until pred holds.
    template <class Pred>
    static bool wait_for(Pred pred, int ms = 5000) {
        return QTest::qWaitFor(pred, ms);
    }

private:
    static inline fs::path* demo_dir_ = nullptr;
};

}  // namespace ringolan::window::testing
