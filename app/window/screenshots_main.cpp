// ringolan-screenshots: renders each tab of the main window to a PNG file (for the
// documentation), on whatever Qt platform is active, offscreen included. One page is
// requested from the window's own server first, so the page memo shows what a request leaves there.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QTabWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <future>
#include <string>

#include "app/settings/paths.h"
#include "app/settings/settings_store.h"
#include "app/window/icons.h"
#include "app/window/main_window.h"
#include "db/dm/results_database.h"

namespace {

void request(uint16_t port, const std::string& target) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string text = "GET " + target + " HTTP/1.0\r\n\r\n";
        (void)!::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        char buffer[4096];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    }
    ::close(fd);
}

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ringolan;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ringolan"));
    if (argc != 3 && argc != 4) {
        std::fputs("usage: ringolan-screenshots SETTINGS.ini OUTPUT_DIR [PAGE]\n", stderr);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);

    setup::SettingsStore settings(std::filesystem::absolute(argv[1]));
    settings.LoadSettings();
    db::ResultsDatabase database;
    window::WindowOptions options;
    options.program_dir = setup::program_file().parent_path();
    options.settings_location = std::nullopt;
    options.port = 0;
    options.message = [](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); };
    options.error = options.message;
    options.open_url = [](const QUrl&) {};
    window::MainWindow window(settings, database, options);
    window.show();
    settle(200);

    for (const auto& bound : window.serverEndpoints()) {
        if (bound.address != "127.0.0.1" && bound.address != "0.0.0.0") continue;
        auto done = std::async(std::launch::async, request, bound.port, std::string(argc == 4 ? argv[3] : "/vstbl.php"));
        while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) QApplication::processEvents();
        break;
    }
    settle(300);

    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    const char* names[] = {"server", "upload", "settings"};
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        settle(100);
        const QString file = out + QStringLiteral("/tab-%1-%2.png").arg(i + 1).arg(QString::fromLatin1(names[i]));
        if (!window.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }

    // The four icon pictures side by side, four times their size.
    QImage icons(4 * 64 + 5 * 8, 64 + 16, QImage::Format_ARGB32);
    icons.fill(Qt::white);
    QPainter p(&icons);
    int x = 8;
    for (int image : {window::kIconDesign, window::kIconStopped, window::kIconRunning, window::kIconActivity}) {
        p.drawImage(QRect(x, 8, 64, 64), window::state_image(image));
        x += 72;
    }
    p.end();
    const QString icons_file = out + QStringLiteral("/icons.png");
    if (!icons.save(icons_file)) return 1;
    std::printf("%s\n", qPrintable(icons_file));
    return 0;
}
