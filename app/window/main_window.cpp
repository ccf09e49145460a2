// Creation, destruction, window events, menus and the notification-area icon.
#include "app/window/main_window.h"
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
#include "app/settings/settings.h"
#include "app/settings/start_settings.h"
#include "app/window/filename_edit.h"
#include "app/window/icons.h"
#include "common/cp1252.h"
#include "db/dm/data_module.h"
#include "server/page_service.h"

namespace ringolan::window {

namespace {
// How long the page memo waits before showing the last answered page.
constexpr int kMemoDelay = 200;  // milliseconds
}  // namespace

QString from_cp1252(const std::string& bytes) { return QString::fromStdU16String(text::cp1252_to_utf16(bytes)); }

std::string to_cp1252(const QString& text) { return text::utf16_to_cp1252(text.toStdU16String()); }

TfmHTTPServerMain::TfmHTTPServerMain(setup::SettingsStore& settings, db::TDM& dm, WindowOptions options,
                                     QWidget* parent)
    : QMainWindow(parent), settings_(settings), dm_(dm), options_(std::move(options)) {
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
    for (int i = 0; i < 3; ++i) {
        ImageList1[i] = state_icon(i);
        ImageList2[i] = state_icon(i);
    }
    setWindowIcon(state_icon(kIconDesign));

    buildMenus();
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->addTab(buildServerTab(), QStringLiteral("Lokaler Ergebnisserver"));
    PageControl1->addTab(buildUploadTab(), QStringLiteral("IT-Upload"));
    PageControl1->addTab(buildSettingsTab(), QStringLiteral("Einstellungen"));
    PageControl1->setCurrentIndex(1);
    setCentralWidget(PageControl1);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));

    TaskbarIcon1 = new QSystemTrayIcon(state_icon(kIconDesign), this);
    TaskbarIcon1->setObjectName(QStringLiteral("TaskbarIcon1"));
    connect(TaskbarIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
        if (why == QSystemTrayIcon::Trigger) TaskbarIcon1Click();
    });
    TaskbarIcon1->setContextMenu(PopupMenu1);  // the desktop's usual right click shows it too

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TfmHTTPServerMain::Timer1Timer);

    upload_ = new UploadController(options_.itdatum, this);
    connect(upload_, &UploadController::lineAppended, Memo2, &QPlainTextEdit::appendPlainText, Qt::QueuedConnection);
    connect(upload_, &UploadController::lastLineReplaced, this, &TfmHTTPServerMain::replaceLastUploadLine,
            Qt::QueuedConnection);
    connect(upload_, &UploadController::progressChanged, ProgressBar1, &QProgressBar::setValue, Qt::QueuedConnection);
    connect(upload_, &UploadController::finished, this, &TfmHTTPServerMain::uploadFinished, Qt::QueuedConnection);
    connect(
        upload_, &UploadController::noted, this,
        [this](const QString& text) {
            if (text.startsWith(QStringLiteral("itdatum"))) StatusBar2->showMessage(text);
        },
        Qt::QueuedConnection);

    FormCreate();
}

void TfmHTTPServerMain::FormCreate() {
    // The same page service as ringolan-server: cache, warming of new states, quick answers.
    page_service_ = std::make_unique<server::PageService>(server::PageServiceConfig{
        .web_root = options_.program_dir / "Web",
        .latest = [dm = &dm_] { return dm->Current(); },
        .start_settings = [store = &settings_] { return setup::to_start_settings(store->get()); },
        .on_page = [this](const std::shared_ptr<const std::string>& page) { pageAnswered(page); },
        .access_log = false});
    dm_.OnChange([notify = page_service_->state_notifier()](const db::SnapshotFollower::Status&) { notify(); });
    HTTPServer = page_service_->make_server([this] { HTTPServerConnect(); });

    setWindowTitle(QStringLiteral("inactive"));
    FillAddressList();

    const setup::Settings s = settings_.get();
    {
        const QSignalBlocker block(FilenameEdit1);
        FilenameEdit1->setText(from_cp1252(s.DatabaseFile));
    }
    if (!dm_.OpenDatabase(QFile::encodeName(FilenameEdit1->text()).toStdString()))
        options_.message(QStringLiteral("Datenbank konnte nicht geöffnet werden!"));
    CBWS->setChecked(s.ServerActive);
    const QString web = QString::fromStdString((options_.program_dir / "Web").string());
    FilenameEditStartbild->setDialogFolder(web);
    FilenameEditHtml->setDialogFolder(web);
    try {
        const QSignalBlocker block(Cbautostart);  // refresh has written the entry already
        Cbautostart->setChecked(setup::AutostartEntry().refresh(setup::program_file()));
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
    CbIE->setChecked(s.StartBrowser);
    CBm->setChecked(s.HideWhenMinimized);
    FilenameEditStartbild->setText(from_cp1252(s.StartPicture));
    EditLinktext->setText(from_cp1252(s.LinkText));
    FilenameEditHtml->setText(from_cp1252(s.LinkTarget));
    EditSiteAddress->setText(from_cp1252(s.SiteAddress));
    EditSiteAccountId->setText(from_cp1252(s.SiteAccountId));
    Edit1->setText(from_cp1252(s.SitePassword));

    QString place = QStringLiteral("mit --ini angegeben");
    if (options_.settings_location == setup::SettingsLocation::ProgramFolder)
        place = QStringLiteral("neben dem Programm");
    else if (options_.settings_location == setup::SettingsLocation::UserConfig)
        place = QStringLiteral("im Konfigurationsordner, da der Programmordner nicht beschreibbar ist");
    LabelSettingsFile->setText(QStringLiteral("Einstellungsdatei: %1 (%2)")
                                   .arg(QString::fromStdString(settings_.file().string()), place));

    BrowserStartPending = true;
    if (CBWS->isChecked()) StartServer();
}

TfmHTTPServerMain::~TfmHTTPServerMain() {
    // FormDestroy: no request may reach the window once it is gone.
    delete upload_;  // cancels a run and waits for its thread before any control goes
    upload_ = nullptr;
    if (opening_) opening_->waitForFinished();
    try {
        HTTPServer->stop();
    } catch (...) {
        // "Terminate Thread Timeout": the threads that are left hold the server's core themselves.
    }
    HTTPServer.reset();
    page_service_.reset();
}

void TfmHTTPServerMain::showError(const QString& text) {
    QString shown = text;
    if (!shown.isEmpty() && shown.back() > QLatin1Char('.')) shown += QLatin1Char('.');
    options_.error(shown);
}

// Request threads: Memo3 belongs to the window's thread. The page is kept by reference (the
// cache's own bytes) and shown a moment later, so that a burst of requests costs the window one
// update with the last page, not one conversion per request.
void TfmHTTPServerMain::pageAnswered(const std::shared_ptr<const std::string>& page) {
    std::lock_guard lock(page_mutex_);
    pending_page_ = page;
    if (page_posted_) return;
    page_posted_ = true;
    QMetaObject::invokeMethod(
        this, [this] { QTimer::singleShot(kMemoDelay, this, &TfmHTTPServerMain::showPage); }, Qt::QueuedConnection);
}

void TfmHTTPServerMain::showPage() {
    std::shared_ptr<const std::string> page;
    {
        std::lock_guard lock(page_mutex_);
        page = std::move(pending_page_);
        page_posted_ = false;
    }
    if (page) Memo3->setPlainText(from_cp1252(*page));
}

bool TfmHTTPServerMain::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) FormActivate();
    return QMainWindow::event(event);
}

void TfmHTTPServerMain::FormActivate() {
    if (BrowserStartPending && CbIE->isChecked()) {
        // The local root; a port only when it is not the usual one (--port).
        uint16_t port = options_.port;
        if (port == 0 && serverRunning()) port = serverEndpoints().front().port;
        QUrl url(QStringLiteral("http://localhost"));
        if (port != 80 && port != 0) url.setPort(port);
        options_.open_url(url);
    }
    BrowserStartPending = false;
}

void TfmHTTPServerMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        // After the window manager has finished minimising.
        QTimer::singleShot(0, this, &TfmHTTPServerMain::Minimized);
    }
}

void TfmHTTPServerMain::Minimized() {
    if (!(windowState() & Qt::WindowMinimized) || !CBm->isChecked()) return;
    // Without a notification area there would be no way back: stay on the task bar.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    TaskbarIcon1->show();
    hide();
}

void TfmHTTPServerMain::TaskbarIcon1Click() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->size() : QSize(800, 600);
    PopupMenu1->popup(QPoint(size.width() - 50, size.height() - 30));
}

void TfmHTTPServerMain::Test1Click() {
    showNormal();
    raise();
    activateWindow();
    TaskbarIcon1->hide();
}

void TfmHTTPServerMain::Beenden1Click() { close(); }
void TfmHTTPServerMain::Beenden2Click() { close(); }

void TfmHTTPServerMain::closeEvent(QCloseEvent* event) {
    event->accept();
    TaskbarIcon1->hide();
    emit closed();
}

void TfmHTTPServerMain::HilfezuRingolan1Click() {
    options_.open_url(QUrl::fromLocalFile(QString::fromStdString((options_.program_dir / "Ringolan.chm").string())));
}

void TfmHTTPServerMain::Info2Click() { options_.message(QStringLiteral("Version 1.0.11")); }

void TfmHTTPServerMain::Button1Click() {
    if (upload_start)
        upload_start();
    else
        StartUpload();
}

}  // namespace ringolan::window
