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
#include "db/dm/results_database.h"

namespace ringolan::window {

void MainWindow::saveSettings() {
    settings_.update([this](setup::Settings& s) {
        s.DatabaseFile = to_cp1252(database_file_edit_->text());
        s.ServerActive = start_server_check_->isChecked();
        s.StartBrowser = start_browser_check_->isChecked();
        s.HideWhenMinimized = hide_when_minimized_check_->isChecked();
        s.StartPicture = to_cp1252(start_picture_edit_->text());
        s.LinkText = to_cp1252(link_text_edit_->text());
        s.LinkTarget = to_cp1252(link_target_edit_->text());
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
void MainWindow::openChosenDatabase() {
    if (opening_) return;  // the field is disabled while an open runs
    const QString file = database_file_edit_->text();
    const bool was_running = serverRunning();
    stopServer();
    database_file_edit_->setEnabled(false);
    server_button_->setEnabled(false);
    tray_server_action_->setEnabled(false);
    opening_ = new QFutureWatcher<bool>(this);
    connect(opening_, &QFutureWatcher<bool>::finished, this, [this, file, was_running] {
        const bool ok = opening_->result();
        opening_->deleteLater();
        opening_ = nullptr;
        databaseOpened(file, was_running, ok);
    });
    const std::filesystem::path path = QFile::encodeName(file).toStdString();
    opening_->setFuture(QtConcurrent::run([database = &database_, path] { return database->OpenDatabase(path); }));
}

void MainWindow::databaseOpened(const QString& file, bool was_running, bool ok) {
    database_file_edit_->setEnabled(true);
    server_button_->setEnabled(true);
    tray_server_action_->setEnabled(true);
    if (!ok) {
        options_.message(QStringLiteral("Datenbank konnte nicht geöffnet werden!"));
    } else {
        settings_.update([&](setup::Settings& s) { s.DatabaseFile = to_cp1252(file); });
        try {
            settings_.SaveSettings();
        } catch (const setup::IniWriteError& e) {
            options_.message(QString::fromLocal8Bit(e.what()));
        }
        if (was_running) startServer();
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

void MainWindow::keepStartPictureFileName() { reduce_to_file_name(start_picture_edit_); }

void MainWindow::keepLinkTargetFileName() { reduce_to_file_name(link_target_edit_); }

void MainWindow::setAutostart() {
    try {
        setup::AutostartEntry().set(autostart_check_->isChecked(), setup::program_file());
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
}

}  // namespace ringolan::window
