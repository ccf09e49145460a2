// TfmHTTPServerMain: the program's one window. It owns the page server and shows its state,
// holds the settings controls and the upload tab, and hides into the notification area.
// Every control carries its component name as Qt object name (Memo1, Button2, CBWS, ...).
#pragma once

#include <QMainWindow>
#include <QString>
#include <QUrl>

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/settings/paths.h"
#include "app/settings/settings_store.h"
#include "server/http_server.h"
#include "upload/upload_run.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;
template <class T>
class QFutureWatcher;

namespace ringolan::db {
class TDM;
}
namespace ringolan::server {
class PageService;
}

namespace ringolan::window {

class FileNameEdit;
class StateCircle;
class UploadController;

struct WindowOptions {
    std::filesystem::path program_dir;  // the web root "Web" and the help file lie here
    // Where the settings file was looked for; nothing when it was named on the command line.
    std::optional<setup::SettingsLocation> settings_location = setup::SettingsLocation::ProgramFolder;
    uint16_t port = 80;  // of every listening address; 0 picks free ports
    // A plain message box with a fixed text; defaults to a modal box.
    std::function<void(const QString&)> message;
    // An error box (the error's text, "." added as errors are shown); defaults to a modal box.
    std::function<void(const QString&)> error;
    // Opens an address or document with the desktop's default application; failures are not
    // reported. Defaults to QDesktopServices.
    std::function<void(const QUrl&)> open_url;
    // Writes the upload's itdatum row into the competition file.
    upload::ItdatumWriter itdatum = upload::itdatum_in_place;
};

class TfmHTTPServerMain : public QMainWindow {
    Q_OBJECT
public:
    // Runs FormCreate: opens the database named in the settings and starts the page server
    // when CBWS is ticked. The store and the data module outlive the window.
    TfmHTTPServerMain(setup::SettingsStore& settings, db::TDM& dm, WindowOptions options,
                      QWidget* parent = nullptr);
    ~TfmHTTPServerMain() override;  // FormDestroy: stops the page server

    void StartServer();
    void StopServer();
    void SetIconState(int image);
    void FillAddressList();

    bool serverRunning() const;
    // The bound (address, port) pairs while the page server runs.
    std::vector<server::Binding> serverEndpoints() const;
    int iconState() const { return icon_state_; }
    // True while a database chosen in FilenameEdit1 is being opened.
    bool databaseOpening() const { return opening_ != nullptr; }
    QSystemTrayIcon* trayIcon() const { return TaskbarIcon1; }
    QMenu* trayMenu() const { return PopupMenu1; }

    // Called by Button1 ("start") and by Enter in Edit1 instead of StartUpload when set.
    std::function<void()> upload_start;
    // Starts an upload run on a worker thread with the tab's account, address and password
    // (taken into the settings and saved first); Button1 stays disabled until it ends.
    void StartUpload();
    bool uploadRunning() const;

    // Handlers, named after their components and events.
    void Button2Click();
    void Webserverstoppen1Click();
    void Test1Click();
    void Beenden1Click();
    void Beenden2Click();
    void TaskbarIcon1Click();
    void Timer1Timer();
    void HilfezuRingolan1Click();
    void Info2Click();
    void FormActivate();
    void Button1Click();
    void ButtonSpeichernClick();
    void FilenameEdit1Change();
    void FilenameEditStartbildChange();
    void FilenameEditHtmlChange();
    void CbautostartClick();
    void ButtonAbbrechenClick();

signals:
    // The window was closed (Beenden or the title bar); the program ends.
    void closed();
    // An open of the database field's file has ended.
    void databaseOpenFinished(bool ok);

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void buildMenus();
    QWidget* buildServerTab();
    QWidget* buildUploadTab();
    QWidget* buildSettingsTab();
    void Minimized();
    void HTTPServerConnect();  // on an I/O thread
    void pageAnswered(const std::shared_ptr<const std::string>& page);  // on a request thread
    void showPage();
    void databaseOpened(const QString& file, bool was_running, bool ok);
    void showError(const QString& text);
    void uploadFinished(bool ok, const QString& error, bool cancelled);
    void replaceLastUploadLine(const QString& line);

    setup::SettingsStore& settings_;
    db::TDM& dm_;
    WindowOptions options_;
    std::unique_ptr<server::PageService> page_service_;
    std::unique_ptr<server::HttpServer> HTTPServer;
    std::array<QIcon, 3> ImageList1;
    std::array<QIcon, 3> ImageList2;
    int icon_state_ = -1;
    bool BrowserStartPending = false;
    QFutureWatcher<bool>* opening_ = nullptr;
    std::mutex page_mutex_;  // guards the two below
    std::shared_ptr<const std::string> pending_page_;  // the newest page not yet in Memo3
    bool page_posted_ = false;
    std::atomic<bool> activity_posted_{false};  // an activity picture is on its way to the window

    QTabWidget* PageControl1 = nullptr;
    // "Lokaler Ergebnisserver"
    QLabel* Label11 = nullptr;
    StateCircle* Shape1 = nullptr;
    QLabel* Label9 = nullptr;
    QPushButton* Button2 = nullptr;
    QLabel* Label8 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    // "IT-Upload"
    QLabel* Label1 = nullptr;
    QGroupBox* RadioGroup1 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* Button1 = nullptr;
    QLabel* Label13 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QStatusBar* StatusBar2 = nullptr;
    QLabel* LabelSiteAddress = nullptr;
    QLineEdit* EditSiteAddress = nullptr;
    QLabel* LabelSiteAccountId = nullptr;
    QLineEdit* EditSiteAccountId = nullptr;
    QPushButton* ButtonAbbrechen = nullptr;
    UploadController* upload_ = nullptr;  // child of the window
    // "Einstellungen"
    QLabel* Label10 = nullptr;
    FileNameEdit* FilenameEdit1 = nullptr;
    QLabel* Label7 = nullptr;
    QCheckBox* CbIE = nullptr;
    QCheckBox* CBWS = nullptr;
    QCheckBox* CBm = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
    FileNameEdit* FilenameEditStartbild = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* EditLinktext = nullptr;
    QLabel* Label5 = nullptr;
    FileNameEdit* FilenameEditHtml = nullptr;
    QPushButton* ButtonSpeichern = nullptr;
    QCheckBox* Cbautostart = nullptr;
    QLabel* LabelSettingsFile = nullptr;
    QPlainTextEdit* Memo3 = nullptr;
    // Menus, tray and timer
    QAction* Beenden2 = nullptr;
    QMenu* Info1 = nullptr;
    QAction* HilfezuRingolan1 = nullptr;
    QAction* Info2 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Webserverstoppen1 = nullptr;
    QAction* Test1 = nullptr;
    QAction* Beenden1 = nullptr;
    QSystemTrayIcon* TaskbarIcon1 = nullptr;
    QTimer* Timer1 = nullptr;
};

// Text conversions between the program's Windows-1252 strings and Qt.
QString from_cp1252(const std::string& bytes);
std::string to_cp1252(const QString& text);

}  // namespace ringolan::window
