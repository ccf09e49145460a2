// The "IT-Upload" tab: starting, cancelling and showing an upload run.
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>

#include "app/window/main_window.h"
#include "app/window/upload_controller.h"
#include "db/dm/results_database.h"
#include "upload/gzip_file.h"

namespace ringolan::window {

bool MainWindow::uploadRunning() const { return upload_ && upload_->running(); }

void MainWindow::startUpload() {
    if (uploadRunning()) return;
    const std::string address = to_cp1252(site_address_edit_->text().trimmed());
    const std::string account = to_cp1252(site_account_edit_->text());
    const std::string password = to_cp1252(password_edit_->text());
    settings_.update([&](setup::Settings& s) {
        s.SiteAddress = address;
        s.SiteAccountId = account;
        s.SitePassword = password;
    });
    try {
        settings_.SaveSettings();
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
    if (address.empty()) {
        showError(QStringLiteral("Keine Adresse der Ergebnis-Website eingetragen"));
        return;
    }
    auto snapshot = database_.Current();
    if (!snapshot) {
        options_.message(QStringLiteral("Datenbank konnte nicht geöffnet werden!"));
        return;
    }

    upload::UploadRequest request;
    request.base = address;
    request.account_id = account;
    request.password = password;
    request.filter =
        with_results_radio_->isChecked() ? upload::StarterFilter::WithResults : upload::StarterFilter::All;
    request.work_dir = options_.program_dir;
    request.database = snapshot->info().source;
    request.progress = upload_progress_->value();

    upload_log_->clear();
    upload_status_->clearMessage();
    upload_start_button_->setEnabled(false);
    upload_cancel_button_->setEnabled(true);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    upload_->start(std::move(request), std::move(snapshot));
}

void MainWindow::cancelUpload() {
    if (upload_) upload_->cancel();
}

void MainWindow::replaceLastUploadLine(const QString& line) {
    QTextCursor cursor(upload_log_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(line);
}

void MainWindow::uploadFinished(bool ok, const QString& error, bool cancelled) {
    QApplication::restoreOverrideCursor();
    upload_start_button_->setEnabled(true);
    upload_cancel_button_->setEnabled(false);
    if (ok) return;
    if (cancelled) {
        upload_log_->appendPlainText(upload_text(upload::kCancelledText) + QLatin1Char('.'));
        return;
    }
    if (error == upload_text(std::string(upload::kGzipPathTooLong)))
        options_.message(error);  // a plain message, as the compression reports it
    else
        showError(error);
}

}  // namespace ringolan::window
