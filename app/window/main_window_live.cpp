// The "Live veröffentlichen" box of the "IT-Upload" tab: live publishing of the competition
// file with the tab's address, account, password and filter, its lines in the tab's log.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalBlocker>

#include "app/window/filename_edit.h"
#include "app/window/live_controller.h"
#include "app/window/main_window.h"

namespace ringolan::window {

bool MainWindow::liveRunning() const { return live_ && live_->running(); }

void MainWindow::toggleLive(bool on) {
    settings_.update([&](setup::Settings& s) {
        s.SiteAddress = to_cp1252(site_address_edit_->text().trimmed());
        s.SiteAccountId = to_cp1252(site_account_edit_->text());
        s.SitePassword = to_cp1252(password_edit_->text());
        s.SiteLive = on;
    });
    try {
        settings_.SaveSettings();
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
    if (on) return startLive();
    if (!liveRunning()) return;
    live_->stop();
    upload_log_->appendPlainText(QStringLiteral("Live-Veröffentlichung beendet."));
}

void MainWindow::startLive() {
    const setup::Settings s = settings_.get();
    if (s.SiteAddress.empty()) {
        liveStopped(QStringLiteral("Keine Adresse der Ergebnis-Website eingetragen"));
        return;
    }
    upload::LiveSettings live;
    live.base = s.SiteAddress;
    live.account_id = s.SiteAccountId;
    live.password = s.SitePassword;
    live.filter = with_results_radio_->isChecked() ? upload::StarterFilter::WithResults : upload::StarterFilter::All;
    live.database = QFile::encodeName(database_file_edit_->text()).toStdString();
    upload_log_->appendPlainText(QStringLiteral("Live-Veröffentlichung gestartet: nur Änderungen werden gesendet ..."));
    live_->start(std::move(live));
}

void MainWindow::liveStopped(const QString& error) {
    if (error.isEmpty()) return;  // stopped by the box
    upload_log_->appendPlainText(QStringLiteral("Live-Veröffentlichung beendet: ") + error);
    const QSignalBlocker block(live_check_);
    live_check_->setChecked(false);
    settings_.update([](setup::Settings& st) { st.SiteLive = false; });
    try {
        settings_.SaveSettings();
    } catch (const std::exception&) {
        // the box shows the state; the next change saves it again
    }
}

}  // namespace ringolan::window
