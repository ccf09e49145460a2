// Starting and stopping the page server, its display and the activity icon.
#include <QAction>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "app/window/address_list.h"
#include "app/window/icons.h"
#include "app/window/main_window.h"
#include "app/window/state_circle.h"

namespace ringolan::window {
namespace {

// The name of an exception's kind, as shown in the start failure's message.
QString kind_name(const std::exception& e) {
    const char* raw = typeid(e).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(raw, nullptr, nullptr, &status), std::free);
    return QString::fromLatin1(status == 0 && demangled ? demangled.get() : raw);
}

}  // namespace

bool MainWindow::serverRunning() const { return server_ && server_->is_running(); }

std::vector<server::Binding> MainWindow::serverEndpoints() const {
    return server_ ? server_->endpoints() : std::vector<server::Binding>{};
}

void MainWindow::fillAddressList() {
    listen_addresses_ = listen_addresses(host_ipv4_addresses(), interface_ipv4_addresses());
    QStringList text;
    for (const auto& address : listen_addresses_) text << QString::fromStdString(address);
    address_list_->setPlainText(text.join(QLatin1Char('\n')));
}

void MainWindow::startServer() {
    if (serverRunning() || databaseOpening()) return;
    // One binding per listening address; a repeated address is bound once.
    std::vector<server::Binding> bindings;
    for (const std::string& address : listen_addresses_) {
        if (address.empty()) continue;
        const bool seen = std::any_of(bindings.begin(), bindings.end(),
                                      [&](const server::Binding& b) { return b.address == address; });
        if (!seen) bindings.push_back({address, options_.port});
    }
    if (bindings.empty()) bindings.push_back({"", options_.port});
    try {
        server_->start(bindings);
    } catch (const std::exception& e) {
        options_.message(QStringLiteral("Exception %1 in Activate. Error is:\"%2\".")
                             .arg(kind_name(e), QString::fromLocal8Bit(e.what())));
        return;
    }
    tray_server_action_->setText(QStringLiteral("Webserver stoppen"));
    server_button_->setText(QStringLiteral("Stoppen"));
    setIconState(kIconRunning);
    state_circle_->setColor(QColor(0, 255, 0));
    server_state_label_->setText(QStringLiteral("aktiv"));
}

void MainWindow::stopServer() {
    if (!serverRunning()) return;
    try {
        server_->stop();
    } catch (const std::exception& e) {
        // "Terminate Thread Timeout": the listeners are closed all the same.
        showError(QString::fromLocal8Bit(e.what()));
    }
    activity_timer_->stop();  // a pending activity picture must not bring back the running one
    activity_shown_ = false;
    tray_server_action_->setText(QStringLiteral("Webserver starten"));
    server_button_->setText(QStringLiteral("Starten"));
    setIconState(kIconStopped);
    server_state_label_->setText(QStringLiteral("gestoppt"));
    state_circle_->setColor(QColor(255, 0, 0));
}

void MainWindow::setIconState(int image) {
    if (image < 0 || image > 2) return;
    icon_state_ = image;
    tray_icon_->setIcon(state_icons_[image]);
    setWindowIcon(state_icons_[image]);
}

void MainWindow::toggleServer() {
    if (serverRunning())
        stopServer();
    else
        startServer();
}

void MainWindow::clientConnected() {
    // An I/O thread; it must not wait for the window. While the activity picture is on its way or
    // shown, further connections change nothing, so they post nothing.
    if (activity_shown_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!serverRunning()) {  // arrived after a stop
                activity_shown_ = false;
                return;
            }
            setIconState(kIconActivity);
            if (!activity_timer_->isActive()) activity_timer_->start();  // a second connection does not lengthen it
        },
        Qt::QueuedConnection);
}

void MainWindow::activityTimeout() {
    setIconState(kIconRunning);
    activity_timer_->stop();
    activity_shown_ = false;
}

}  // namespace ringolan::window
