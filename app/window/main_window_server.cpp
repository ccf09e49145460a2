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

bool TfmHTTPServerMain::serverRunning() const { return HTTPServer && HTTPServer->is_running(); }

std::vector<server::Binding> TfmHTTPServerMain::serverEndpoints() const {
    return HTTPServer ? HTTPServer->endpoints() : std::vector<server::Binding>{};
}

void TfmHTTPServerMain::FillAddressList() {
    Memo1->clear();
    QStringList text;
    for (const auto& line : address_lines(host_ipv4_addresses(), interface_ipv4_addresses()))
        text << QString::fromStdString(line);
    Memo1->setPlainText(text.join(QLatin1Char('\n')));
}

void TfmHTTPServerMain::StartServer() {
    if (serverRunning() || databaseOpening()) return;
    // One binding per line of Memo1; a repeated address is bound once.
    std::vector<server::Binding> bindings;
    const QStringList lines = Memo1->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const std::string address = line.trimmed().toStdString();
        if (address.empty()) continue;
        const bool seen = std::any_of(bindings.begin(), bindings.end(),
                                      [&](const server::Binding& b) { return b.address == address; });
        if (!seen) bindings.push_back({address, options_.port});
    }
    if (bindings.empty()) bindings.push_back({"", options_.port});
    try {
        HTTPServer->start(bindings);
    } catch (const std::exception& e) {
        options_.message(QStringLiteral("Exception %1 in Activate. Error is:\"%2\".")
                             .arg(kind_name(e), QString::fromLocal8Bit(e.what())));
        return;
    }
    Webserverstoppen1->setText(QStringLiteral("Webserver stoppen"));
    Button2->setText(QStringLiteral("Stoppen"));
    SetIconState(kIconRunning);
    Shape1->setColor(QColor(0, 255, 0));
    Label9->setText(QStringLiteral("aktiv"));
}

void TfmHTTPServerMain::StopServer() {
    if (!serverRunning()) return;
    try {
        HTTPServer->stop();
    } catch (const std::exception& e) {
        // "Terminate Thread Timeout": the listeners are closed all the same.
        showError(QString::fromLocal8Bit(e.what()));
    }
    Timer1->stop();  // a pending activity picture must not bring back the running one
    Webserverstoppen1->setText(QStringLiteral("Webserver starten"));
    Button2->setText(QStringLiteral("Starten"));
    SetIconState(kIconStopped);
    Label9->setText(QStringLiteral("gestoppt"));
    Shape1->setColor(QColor(255, 0, 0));
}

void TfmHTTPServerMain::SetIconState(int image) {
    if (image < 0 || image > 2) return;
    icon_state_ = image;
    TaskbarIcon1->setIcon(ImageList1[image]);
    setWindowIcon(ImageList2[image]);
}

void TfmHTTPServerMain::Button2Click() {
    if (serverRunning())
        StopServer();
    else
        StartServer();
}

void TfmHTTPServerMain::Webserverstoppen1Click() { Button2Click(); }

void TfmHTTPServerMain::HTTPServerConnect() {
    // An I/O thread; it must not wait for the window. One notice at a time is on its way.
    if (activity_posted_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            activity_posted_ = false;
            if (!serverRunning()) return;  // arrived after a stop
            SetIconState(kIconActivity);
            if (!Timer1->isActive()) Timer1->start();  // a second connection does not lengthen it
        },
        Qt::QueuedConnection);
}

void TfmHTTPServerMain::Timer1Timer() {
    SetIconState(kIconRunning);
    Timer1->stop();
}

}  // namespace ringolan::window
