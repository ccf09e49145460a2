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
#include "db/dm/data_module.h"
#include "upload/gzip_file.h"

namespace ringolan::window {

bool TfmHTTPServerMain::uploadRunning() const { return upload_ && upload_->running(); }

void TfmHTTPServerMain::StartUpload() {
    if (uploadRunning()) return;
    const std::string address = to_cp1252(EditSiteAddress->text().trimmed());
    const std::string account = to_cp1252(EditSiteAccountId->text());
    const std::string password = to_cp1252(Edit1->text());
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
    auto snapshot = dm_.Current();
    if (!snapshot) {
        options_.message(QStringLiteral("Datenbank konnte nicht geöffnet werden!"));
        return;
    }

    upload::UploadRequest request;
    request.base = address;
    request.account_id = account;
    request.password = password;
    auto* with_results = findChild<QRadioButton*>(QStringLiteral("RadioGroup1Item1"));
    request.filter = with_results && with_results->isChecked() ? upload::StarterFilter::WithResults
                                                                 : upload::StarterFilter::All;
    request.work_dir = options_.program_dir;
    request.database = snapshot->info().source;
    request.progress = ProgressBar1->value();

    Memo2->clear();
    StatusBar2->clearMessage();
    Button1->setEnabled(false);
    ButtonAbbrechen->setEnabled(true);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    upload_->start(std::move(request), std::move(snapshot));
}

void TfmHTTPServerMain::ButtonAbbrechenClick() {
    if (upload_) upload_->cancel();
}

void TfmHTTPServerMain::replaceLastUploadLine(const QString& line) {
    QTextCursor cursor(Memo2->document());
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(line);
}

void TfmHTTPServerMain::uploadFinished(bool ok, const QString& error, bool cancelled) {
    QApplication::restoreOverrideCursor();
    Button1->setEnabled(true);
    ButtonAbbrechen->setEnabled(false);
    if (ok) return;
    if (cancelled) {
        Memo2->appendPlainText(upload_text(upload::kCancelledText) + QLatin1Char('.'));
        return;
    }
    if (error == upload_text(std::string(upload::kGzipPathTooLong)))
        options_.message(error);  // a plain message, as the compression reports it
    else
        showError(error);
}

}  // namespace ringolan::window
