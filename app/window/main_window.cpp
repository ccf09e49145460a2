// Creation, destruction, window events, menus and the notification-area icon.
#include "app/window/main_window.h"
#include "app/window/live_controller.h"
#include "app/window/upload_controller.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QWindowStateChangeEvent>

#include "app/settings/autostart.h"
#include "app/settings/paths.h"
#include "app/settings/settings.h"
#include "app/settings/start_settings.h"
#include "app/window/filename_edit.h"
#include "app/window/icons.h"
#include "common/cp1252.h"
#include "db/dm/results_database.h"
#include "server/page_service.h"

namespace ringolan::window {

namespace {
// How long the page memo waits before showing the last answered page.
constexpr int kMemoDelay = 200;  // milliseconds
}  // namespace

QString from_cp1252(const std::string& bytes) { return QString::fromStdU16String(text::cp1252_to_utf16(bytes)); }

std::string to_cp1252(const QString& text) { return text::utf16_to_cp1252(text.toStdU16String()); }

MainWindow::MainWindow(setup::SettingsStore& settings, db::ResultsDatabase& database, WindowOptions options,
                       QWidget* parent)
    : QMainWindow(parent), settings_(settings), database_(database), options_(std::move(options)) {
    setObjectName(QStringLiteral("fmHTTPServerMain"));
    if (!options_.message)
        options_.message = [this](const QString& text) {
            QMessageBox::information(this, QApplication::applicationName(), text);
        };
    if (!options_.error)
        options_.error = [this](const QString& text) {
            QMessageBox::critical(this, QApplication::applicationName(), text);
        };
    if (!options_.open_url) options_.open_url = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    resize(719, 721);
    for (int i = 0; i < 3; ++i) state_icons_[i] = state_icon(i);
    setWindowIcon(state_icon(kIconDesign));

    buildMenus();
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("PageControl1"));
    tabs_->addTab(buildServerTab(), QStringLiteral("Lokaler Ergebnisserver"));
    tabs_->addTab(buildUploadTab(), QStringLiteral("IT-Upload"));
    tabs_->addTab(buildSettingsTab(), QStringLiteral("Einstellungen"));
    tabs_->setCurrentIndex(1);
    setCentralWidget(tabs_);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));

    tray_icon_ = new QSystemTrayIcon(state_icon(kIconDesign), this);
    tray_icon_->setObjectName(QStringLiteral("TaskbarIcon1"));
    connect(tray_icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
        if (why == QSystemTrayIcon::Trigger) showTrayMenu();
    });
    tray_icon_->setContextMenu(tray_menu_);  // the desktop's usual right click shows it too

    activity_timer_ = new QTimer(this);
    activity_timer_->setObjectName(QStringLiteral("Timer1"));
    activity_timer_->setInterval(1000);
    connect(activity_timer_, &QTimer::timeout, this, &MainWindow::activityTimeout);

    upload_ = new UploadController(options_.itdatum, this);
    live_ = new LiveController(this);
    connect(live_, &LiveController::lineAppended, upload_log_, &QPlainTextEdit::appendPlainText, Qt::QueuedConnection);
    connect(live_, &LiveController::stopped, this, &MainWindow::liveStopped, Qt::QueuedConnection);
    connect(upload_, &UploadController::lineAppended, upload_log_, &QPlainTextEdit::appendPlainText,
            Qt::QueuedConnection);
    connect(upload_, &UploadController::lastLineReplaced, this, &MainWindow::replaceLastUploadLine,
            Qt::QueuedConnection);
    connect(upload_, &UploadController::progressChanged, upload_progress_, &QProgressBar::setValue,
            Qt::QueuedConnection);
    connect(upload_, &UploadController::finished, this, &MainWindow::uploadFinished, Qt::QueuedConnection);
    connect(
        upload_, &UploadController::noted, this,
        [this](const QString& text) {
            if (text.startsWith(QStringLiteral("itdatum"))) upload_status_->showMessage(text);
        },
        Qt::QueuedConnection);

    setUp();
}

void MainWindow::setUp() {
    // The same page service as ringolan-server: cache, warming of new states, quick answers.
    page_service_ = std::make_unique<server::PageService>(server::PageServiceConfig{
        .web_root = setup::web_root(options_.program_dir),
        .latest = [database = &database_] { return database->Current(); },
        .start_settings = [store = &settings_] { return setup::to_start_settings(store->get()); },
        .on_page = [this](const std::shared_ptr<const std::string>& page) { pageAnswered(page); },
        .access_log = false});
    database_.OnChange([notify = page_service_->state_notifier()](const db::SnapshotFollower::Status&) { notify(); });
    server_ = page_service_->make_server([this] { clientConnected(); });

    setWindowTitle(QStringLiteral("inactive"));
    fillAddressList();

    const setup::Settings s = settings_.get();
    {
        const QSignalBlocker block(database_file_edit_);
        database_file_edit_->setText(from_cp1252(s.DatabaseFile));
    }
    if (!database_.OpenDatabase(QFile::encodeName(database_file_edit_->text()).toStdString()))
        options_.message(QStringLiteral("Datenbank konnte nicht geöffnet werden!"));
    start_server_check_->setChecked(s.ServerActive);
    const QString web = QString::fromStdString(setup::web_root(options_.program_dir).string());
    start_picture_edit_->setDialogFolder(web);
    link_target_edit_->setDialogFolder(web);
    try {
        const QSignalBlocker block(autostart_check_);  // refresh has written the entry already
        autostart_check_->setChecked(setup::AutostartEntry().refresh(setup::program_file()));
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
    start_browser_check_->setChecked(s.StartBrowser);
    hide_when_minimized_check_->setChecked(s.HideWhenMinimized);
    start_picture_edit_->setText(from_cp1252(s.StartPicture));
    link_text_edit_->setText(from_cp1252(s.LinkText));
    link_target_edit_->setText(from_cp1252(s.LinkTarget));
    site_address_edit_->setText(from_cp1252(s.SiteAddress));
    site_account_edit_->setText(from_cp1252(s.SiteAccountId));
    password_edit_->setText(from_cp1252(s.SitePassword));
    if (s.SiteLive) live_check_->setChecked(true);  // starts publishing

    QString place = QStringLiteral("mit --ini angegeben");
    if (options_.settings_location == setup::SettingsLocation::ProgramFolder)
        place = QStringLiteral("neben dem Programm");
    else if (options_.settings_location == setup::SettingsLocation::UserConfig)
        place = QStringLiteral("im Konfigurationsordner, da der Programmordner nicht beschreibbar ist");
    settings_file_label_->setText(QStringLiteral("Einstellungsdatei: %1 (%2)")
                                      .arg(QString::fromStdString(settings_.file().string()), place));

    browser_start_pending_ = true;
    if (start_server_check_->isChecked()) startServer();
}

MainWindow::~MainWindow() {
    // No request may reach the window once it is gone.
    delete upload_;  // cancels a run and waits for its thread before any control goes
    upload_ = nullptr;
    delete live_;
    live_ = nullptr;
    if (opening_) opening_->waitForFinished();
    try {
        server_->stop();
    } catch (...) {
        // "Terminate Thread Timeout": the threads that are left hold the server's core themselves.
    }
    server_.reset();
    page_service_.reset();
}

void MainWindow::showError(const QString& text) {
    QString shown = text;
    if (!shown.isEmpty() && shown.back() > QLatin1Char('.')) shown += QLatin1Char('.');
    options_.error(shown);
}

// Request threads: page_memo_ belongs to the window's thread. The page is kept by reference (the
// cache's own bytes) and shown a moment later, so that a burst of requests costs the window one
// update with the last page, not one conversion per request.
void MainWindow::pageAnswered(const std::shared_ptr<const std::string>& page) {
    std::lock_guard lock(page_mutex_);
    pending_page_ = page;
    if (page_posted_) return;
    page_posted_ = true;
    QMetaObject::invokeMethod(
        this, [this] { QTimer::singleShot(kMemoDelay, this, &MainWindow::showPage); }, Qt::QueuedConnection);
}

void MainWindow::showPage() {
    std::shared_ptr<const std::string> page;
    {
        std::lock_guard lock(page_mutex_);
        page = std::move(pending_page_);
        page_posted_ = false;
    }
    if (page) page_memo_->setPlainText(from_cp1252(*page));
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) openPendingBrowser();
    return QMainWindow::event(event);
}

void MainWindow::openPendingBrowser() {
    if (browser_start_pending_ && start_browser_check_->isChecked()) {
        // The local root; a port only when it is not the usual one (--port).
        uint16_t port = options_.port;
        if (port == 0 && serverRunning()) port = serverEndpoints().front().port;
        QUrl url(QStringLiteral("http://localhost"));
        if (port != 80 && port != 0) url.setPort(port);
        options_.open_url(url);
    }
    browser_start_pending_ = false;
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        // After the window manager has finished minimising.
        QTimer::singleShot(0, this, &MainWindow::hideWhenMinimized);
    }
}

void MainWindow::hideWhenMinimized() {
    if (!(windowState() & Qt::WindowMinimized) || !hide_when_minimized_check_->isChecked()) return;
    // Without a notification area there would be no way back: stay on the task bar.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_icon_->show();
    hide();
}

void MainWindow::showTrayMenu() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->size() : QSize(800, 600);
    tray_menu_->popup(QPoint(size.width() - 50, size.height() - 30));
}

void MainWindow::restoreFromTray() {
    showNormal();
    raise();
    activateWindow();
    tray_icon_->hide();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    tray_icon_->hide();
    emit closed();
}

void MainWindow::openHelp() {
    options_.open_url(QUrl::fromLocalFile(QString::fromStdString((options_.program_dir / "Ringolan.chm").string())));
}

void MainWindow::showVersion() { options_.message(QStringLiteral("Version 1.0.11")); }

void MainWindow::requestUpload() {
    if (upload_start)
        upload_start();
    else
        startUpload();
}

}  // namespace ringolan::window
