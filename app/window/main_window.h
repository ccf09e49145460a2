// MainWindow: the program's one window. It owns the page server and shows its state, holds
// the settings controls and the upload tab, and hides into the notification area. The controls
// keep their historical Qt object names ("Memo1", "Button2", "CBWS", ...), which outside tools
// and the tests look them up by.
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
class ResultsDatabase;
}
namespace ringolan::server {
class PageService;
}

namespace ringolan::window {

class FileNameEdit;
class StateCircle;
class UploadController;
class LiveController;

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

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Runs setUp: opens the database named in the settings and starts the page server when
    // "start server" is ticked. The store and the database outlive the window.
    MainWindow(setup::SettingsStore& settings, db::ResultsDatabase& database, WindowOptions options,
               QWidget* parent = nullptr);
    ~MainWindow() override;  // stops the page server

    // Binds one listener per distinct listening address (all addresses when there are none).
    void startServer();
    void stopServer();
    void setIconState(int image);
    // Reads the listening addresses anew and shows them in the address list.
    void fillAddressList();
    const std::vector<std::string>& listenAddresses() const { return listen_addresses_; }

    bool serverRunning() const;
    // The bound (address, port) pairs while the page server runs.
    std::vector<server::Binding> serverEndpoints() const;
    int iconState() const { return icon_state_; }
    // True while a database chosen in the database field is being opened.
    bool databaseOpening() const { return opening_ != nullptr; }
    QSystemTrayIcon* trayIcon() const { return tray_icon_; }
    QMenu* trayMenu() const { return tray_menu_; }

    // Called by the upload's start button and by Enter in the password field instead of
    // startUpload when set.
    std::function<void()> upload_start;
    // Starts an upload run on a worker thread with the tab's account, address and password
    // (taken into the settings and saved first); the start button stays disabled until it ends.
    void startUpload();
    bool uploadRunning() const;

    // What the controls, menus, tray icon and timer do.
    void toggleServer();        // server button and tray menu: start or stop
    void restoreFromTray();     // tray menu "Einstellungen"
    void showTrayMenu();        // click on the tray icon
    void activityTimeout();     // the activity picture has been shown long enough
    void openHelp();
    void showVersion();
    void openPendingBrowser();  // on the first activation after creation, when ticked
    void requestUpload();       // upload start button or Enter in the password field
    void cancelUpload();
    void saveSettings();
    void openChosenDatabase();  // a name in the database field is complete
    void keepStartPictureFileName();
    void keepLinkTargetFileName();
    void setAutostart();        // the autostart box was toggled
    void toggleLive(bool on);   // the "Live veröffentlichen" box: start or stop live publishing
    bool liveRunning() const;

signals:
    // The window was closed (a quit item or the title bar); the program ends.
    void closed();
    // An open of the database field's file has ended.
    void databaseOpenFinished(bool ok);

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void setUp();
    void buildMenus();
    QWidget* buildServerTab();
    QWidget* buildUploadTab();
    QWidget* buildSettingsTab();
    void hideWhenMinimized();
    void clientConnected();  // on an I/O thread
    void pageAnswered(const std::shared_ptr<const std::string>& page);  // on a request thread
    void showPage();
    void databaseOpened(const QString& file, bool was_running, bool ok);
    void showError(const QString& text);
    void uploadFinished(bool ok, const QString& error, bool cancelled);
    void replaceLastUploadLine(const QString& line);
    void startLive();
    void liveStopped(const QString& error);

    setup::SettingsStore& settings_;
    db::ResultsDatabase& database_;
    WindowOptions options_;
    std::unique_ptr<server::PageService> page_service_;
    std::unique_ptr<server::HttpServer> server_;
    std::array<QIcon, 3> state_icons_;  // by IconImage: stopped, running, activity
    std::vector<std::string> listen_addresses_;
    int icon_state_ = -1;
    bool browser_start_pending_ = false;
    QFutureWatcher<bool>* opening_ = nullptr;
    std::mutex page_mutex_;  // guards the two below
    std::shared_ptr<const std::string> pending_page_;  // the newest page not yet in page_memo_
    bool page_posted_ = false;
    std::atomic<bool> activity_shown_{false};  // the activity picture is on its way or shown

    QTabWidget* tabs_ = nullptr;
    // "Lokaler Ergebnisserver"
    QLabel* server_heading_ = nullptr;
    StateCircle* state_circle_ = nullptr;
    QLabel* server_state_label_ = nullptr;
    QPushButton* server_button_ = nullptr;
    QLabel* address_list_label_ = nullptr;
    QPlainTextEdit* address_list_ = nullptr;
    // "IT-Upload"
    QLabel* upload_hint_label_ = nullptr;
    QGroupBox* starter_filter_group_ = nullptr;
    QRadioButton* with_results_radio_ = nullptr;  // "only starters with results"
    QLabel* preliminary_label_ = nullptr;
    QPushButton* upload_start_button_ = nullptr;
    QLabel* password_label_ = nullptr;
    QLineEdit* password_edit_ = nullptr;
    QProgressBar* upload_progress_ = nullptr;
    QPlainTextEdit* upload_log_ = nullptr;
    QStatusBar* upload_status_ = nullptr;
    QLabel* site_address_label_ = nullptr;
    QLineEdit* site_address_edit_ = nullptr;
    QLabel* site_account_label_ = nullptr;
    QLineEdit* site_account_edit_ = nullptr;
    QPushButton* upload_cancel_button_ = nullptr;
    UploadController* upload_ = nullptr;  // child of the window
    QCheckBox* live_check_ = nullptr;
    LiveController* live_ = nullptr;      // child of the window
    // "Einstellungen"
    QLabel* database_label_ = nullptr;
    FileNameEdit* database_file_edit_ = nullptr;
    QLabel* start_options_heading_ = nullptr;
    QCheckBox* start_browser_check_ = nullptr;
    QCheckBox* start_server_check_ = nullptr;
    QCheckBox* hide_when_minimized_check_ = nullptr;
    QLabel* start_page_heading_ = nullptr;
    QLabel* start_picture_label_ = nullptr;
    FileNameEdit* start_picture_edit_ = nullptr;
    QLabel* link_text_label_ = nullptr;
    QLineEdit* link_text_edit_ = nullptr;
    QLabel* link_target_label_ = nullptr;
    FileNameEdit* link_target_edit_ = nullptr;
    QPushButton* save_button_ = nullptr;
    QCheckBox* autostart_check_ = nullptr;
    QLabel* settings_file_label_ = nullptr;
    QPlainTextEdit* page_memo_ = nullptr;
    // Menus, tray and timer
    QAction* quit_action_ = nullptr;
    QMenu* info_menu_ = nullptr;
    QAction* help_action_ = nullptr;
    QAction* version_action_ = nullptr;
    QMenu* tray_menu_ = nullptr;
    QAction* tray_server_action_ = nullptr;
    QAction* tray_show_action_ = nullptr;
    QAction* tray_quit_action_ = nullptr;
    QSystemTrayIcon* tray_icon_ = nullptr;
    QTimer* activity_timer_ = nullptr;
};

// Text conversions between the program's Windows-1252 strings and Qt.
QString from_cp1252(const std::string& bytes);
std::string to_cp1252(const QString& text);

}  // namespace ringolan::window
