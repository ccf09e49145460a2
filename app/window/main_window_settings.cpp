// The settings tab: saving, the database field, the start page fields and autostart.
#include <QCheckBox>
#include <QFile>
#include <QFutureWatcher>
#include <QLineEdit>
#include <QPushButton>
#include <QAction>
#include <QtConcurrent/QtConcurrentRun>

#include "app/settings/autostart.h"
#include "app/settings/ini_file.h"
#include "app/settings/paths.h"
#include "app/settings/settings.h"
#include "app/window/filename_edit.h"
#include "app/window/main_window.h"
#include "db/dm/data_module.h"

namespace ringolan::window {

void TfmHTTPServerMain::ButtonSpeichernClick() {
    settings_.update([this](setup::Settings& s) {
        s.DatabaseFile = to_cp1252(FilenameEdit1->text());
        s.ServerActive = CBWS->isChecked();
        s.StartBrowser = CbIE->isChecked();
        s.HideWhenMinimized = CBm->isChecked();
        s.StartPicture = to_cp1252(FilenameEditStartbild->text());
        s.LinkText = to_cp1252(EditLinktext->text());
        s.LinkTarget = to_cp1252(FilenameEditHtml->text());
    });
    try {
        settings_.SaveSettings();
    } catch (const setup::IniWriteError& e) {
        options_.message(QString::fromLocal8Bit(e.what()));
    }
}

// Runs when a name in the database field is complete (chosen in the dialog or the history,
// Enter, or leaving the changed field), not on every keystroke. The file is opened on a
// worker thread so the window stays responsive; the page server is stopped meanwhile.
void TfmHTTPServerMain::FilenameEdit1Change() {
    if (opening_) return;  // the field is disabled while an open runs
    const QString file = FilenameEdit1->text();
    const bool was_running = serverRunning();
    StopServer();
    FilenameEdit1->setEnabled(false);
    Button2->setEnabled(false);
    Webserverstoppen1->setEnabled(false);
    opening_ = new QFutureWatcher<bool>(this);
    connect(opening_, &QFutureWatcher<bool>::finished, this, [this, file, was_running] {
        const bool ok = opening_->result();
        opening_->deleteLater();
        opening_ = nullptr;
        databaseOpened(file, was_running, ok);
    });
    const std::string path = QFile::encodeName(file).toStdString();
    opening_->setFuture(QtConcurrent::run([dm = &dm_, path] { return dm->OpenDatabase(path); }));
}

void TfmHTTPServerMain::databaseOpened(const QString& file, bool was_running, bool ok) {
    FilenameEdit1->setEnabled(true);
    Button2->setEnabled(true);
    Webserverstoppen1->setEnabled(true);
    if (!ok) {
        options_.message(QStringLiteral("Datenbank konnte nicht geöffnet werden!"));
    } else {
        settings_.update([&](setup::Settings& s) { s.DatabaseFile = to_cp1252(file); });
        try {
            settings_.SaveSettings();
        } catch (const setup::IniWriteError& e) {
            options_.message(QString::fromLocal8Bit(e.what()));
        }
        if (was_running) StartServer();
    }
    emit databaseOpenFinished(ok);
}

namespace {

// Keeps only the file-name part; the replacement does not notify again.
void reduce_to_file_name(FileNameEdit* edit) {
    const QString bare = from_cp1252(setup::bare_file_name(to_cp1252(edit->text())));
    if (bare == edit->text()) return;
    const QSignalBlocker block(edit);
    edit->setText(bare);
}

}  // namespace

void TfmHTTPServerMain::FilenameEditStartbildChange() { reduce_to_file_name(FilenameEditStartbild); }

void TfmHTTPServerMain::FilenameEditHtmlChange() { reduce_to_file_name(FilenameEditHtml); }

void TfmHTTPServerMain::CbautostartClick() {
    try {
        setup::AutostartEntry().set(Cbautostart->isChecked(), setup::program_file());
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
}

}  // namespace ringolan::window
