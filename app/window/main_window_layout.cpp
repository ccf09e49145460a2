// The controls of the three tabs and the menus, with their captions and Qt object names.
#include <QAction>
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/window/filename_edit.h"
#include "app/window/main_window.h"
#include "app/window/state_circle.h"

namespace ringolan::window {
namespace {

template <class W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* heading(const QString& text, const char* name, QWidget* parent) {
    auto* label = named(new QLabel(text, parent), name);
    QFont font = label->font();
    font.setPixelSize(16);
    label->setFont(font);
    return label;
}

}  // namespace

void MainWindow::buildMenus() {
    quit_action_ = named(menuBar()->addAction(QStringLiteral("Beenden")), "Beenden2");
    connect(quit_action_, &QAction::triggered, this, &MainWindow::close);
    info_menu_ = named(menuBar()->addMenu(QStringLiteral("Info")), "Info1");
    help_action_ = named(info_menu_->addAction(QStringLiteral("Hilfe zu Ringolan")), "HilfezuRingolan1");
    info_menu_->addSeparator();
    version_action_ = named(info_menu_->addAction(QStringLiteral("Info")), "Info2");
    connect(help_action_, &QAction::triggered, this, &MainWindow::openHelp);
    connect(version_action_, &QAction::triggered, this, &MainWindow::showVersion);

    tray_menu_ = named(new QMenu(this), "PopupMenu1");
    tray_server_action_ = named(tray_menu_->addAction(QStringLiteral("Webserver starten")), "Webserverstoppen1");
    tray_show_action_ = named(tray_menu_->addAction(QStringLiteral("Einstellungen")), "Test1");
    tray_quit_action_ = named(tray_menu_->addAction(QStringLiteral("Beenden")), "Beenden1");
    connect(tray_server_action_, &QAction::triggered, this, &MainWindow::toggleServer);
    connect(tray_show_action_, &QAction::triggered, this, &MainWindow::restoreFromTray);
    connect(tray_quit_action_, &QAction::triggered, this, &MainWindow::close);
}

QWidget* MainWindow::buildServerTab() {
    auto* tab = named(new QWidget, "TabSheet1");
    auto* layout = new QGridLayout(tab);
    server_heading_ = heading(QStringLiteral("Ergebnisserver"), "Label11", tab);
    state_circle_ = named(new StateCircle(tab), "Shape1");
    server_state_label_ = named(new QLabel(QStringLiteral("Nicht aktiv"), tab), "Label9");
    server_button_ = named(new QPushButton(QStringLiteral("Starten"), tab), "Button2");
    address_list_label_ = named(new QLabel(QStringLiteral("Verbundene IP-Adressen"), tab), "Label8");
    address_list_ = named(new QPlainTextEdit(tab), "Memo1");
    address_list_->setEnabled(false);
    address_list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    address_list_->setMaximumHeight(140);
    connect(server_button_, &QPushButton::clicked, this, &MainWindow::toggleServer);

    layout->addWidget(server_heading_, 0, 0, 1, 3);
    layout->addWidget(state_circle_, 1, 0);
    layout->addWidget(server_state_label_, 1, 1);
    layout->addWidget(server_button_, 1, 2, Qt::AlignLeft);
    layout->addWidget(address_list_label_, 2, 0, 1, 3);
    layout->addWidget(address_list_, 3, 0, 1, 3);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(4, 1);
    return tab;
}

QWidget* MainWindow::buildUploadTab() {
    auto* tab = named(new QWidget, "TabSheet2");
    auto* layout = new QVBoxLayout(tab);
    upload_hint_label_ = named(
        new QLabel(QStringLiteral("Achtung! Stellen Sie vor der Betätigung von Start die Verbindung zum Internet her."),
                   tab),
        "Label1");
    upload_hint_label_->setWordWrap(true);
    starter_filter_group_ = named(new QGroupBox(QStringLiteral(" Filter "), tab), "RadioGroup1");
    auto* radios = new QVBoxLayout(starter_filter_group_);
    auto* all = named(new QRadioButton(QStringLiteral("Alle Starter"), starter_filter_group_), "RadioGroup1Item0");
    with_results_radio_ = named(
        new QRadioButton(QStringLiteral("Nur Starter mit Ergebnisse"), starter_filter_group_), "RadioGroup1Item1");
    all->setChecked(true);
    radios->addWidget(all);
    radios->addWidget(with_results_radio_);
    preliminary_label_ = named(new QLabel(QStringLiteral("Vorläufige Version"), tab), "Label4");
    upload_start_button_ = named(new QPushButton(QStringLiteral("start"), tab), "Button1");
    password_label_ = named(new QLabel(QStringLiteral("Kennwort"), tab), "Label13");
    password_edit_ = named(new QLineEdit(tab), "Edit1");
    password_edit_->setEchoMode(QLineEdit::Password);
    password_edit_->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
    password_label_->setBuddy(password_edit_);
    upload_progress_ = named(new QProgressBar(tab), "ProgressBar1");
    upload_progress_->setRange(0, 100);
    upload_progress_->setValue(0);
    upload_progress_->setTextVisible(false);
    upload_log_ = named(new QPlainTextEdit(tab), "Memo2");
    upload_log_->setReadOnly(true);
    upload_log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    upload_log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    upload_log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    upload_status_ = named(new QStatusBar(tab), "StatusBar2");
    upload_status_->setSizeGripEnabled(false);
    site_address_label_ = named(new QLabel(QStringLiteral("Adresse der Ergebnis-Website"), tab), "LabelSiteAddress");
    site_address_edit_ = named(new QLineEdit(tab), "EditSiteAddress");
    site_address_edit_->setPlaceholderText(QStringLiteral("https://ergebnisse.example.org"));
    site_address_label_->setBuddy(site_address_edit_);
    site_account_label_ = named(new QLabel(QStringLiteral("Konto"), tab), "LabelSiteAccountId");
    site_account_edit_ = named(new QLineEdit(tab), "EditSiteAccountId");
    site_account_label_->setBuddy(site_account_edit_);
    upload_cancel_button_ = named(new QPushButton(QStringLiteral("abbrechen"), tab), "ButtonAbbrechen");
    upload_cancel_button_->setEnabled(false);
    connect(upload_start_button_, &QPushButton::clicked, this, &MainWindow::requestUpload);
    connect(password_edit_, &QLineEdit::returnPressed, upload_start_button_, &QPushButton::click);
    connect(upload_cancel_button_, &QPushButton::clicked, this, &MainWindow::cancelUpload);
    live_check_ = named(new QCheckBox(QStringLiteral("Live veröffentlichen (nur Änderungen, laufend)"), tab), "CheckLive");
    connect(live_check_, &QCheckBox::toggled, this, &MainWindow::toggleLive);
    auto* site = new QFormLayout;
    site->addRow(site_address_label_, site_address_edit_);
    site->addRow(site_account_label_, site_account_edit_);

    auto* start_row = new QHBoxLayout;
    start_row->addWidget(preliminary_label_);
    start_row->addStretch(1);
    start_row->addWidget(password_label_);
    start_row->addWidget(password_edit_);
    start_row->addWidget(upload_start_button_);
    start_row->addWidget(upload_cancel_button_);
    layout->addWidget(upload_hint_label_);
    layout->addLayout(site);
    layout->addWidget(starter_filter_group_);
    layout->addLayout(start_row);
    layout->addWidget(live_check_);
    layout->addWidget(upload_progress_);
    layout->addWidget(upload_log_, 1);
    layout->addWidget(upload_status_);
    return tab;
}

QWidget* MainWindow::buildSettingsTab() {
    auto* tab = named(new QWidget, "TabSheet3");
    auto* layout = new QVBoxLayout(tab);

    database_label_ = named(new QLabel(QStringLiteral("Datenbank"), tab), "Label10");
    database_file_edit_ = named(new FileNameEdit(QStringLiteral("Access-Dateien|*.mdb"),
                                                 {QStringLiteral("Test.mdb"), QStringLiteral("nochwas")}, tab),
                                "FilenameEdit1");
    database_label_->setBuddy(database_file_edit_);
    auto* database = new QFormLayout;
    database->addRow(database_label_, database_file_edit_);
    layout->addLayout(database);

    start_options_heading_ = heading(QStringLiteral("Ergebnisserver-Start-Optionen"), "Label7", tab);
    start_browser_check_ = named(new QCheckBox(QStringLiteral("Internetexplorer automatisch starten"), tab), "CbIE");
    start_server_check_ =
        named(new QCheckBox(QStringLiteral("Ergebnisserver nach Programmstart aktiv"), tab), "CBWS");
    hide_when_minimized_check_ = named(new QCheckBox(QStringLiteral("Ausblenden, wenn minimiert"), tab), "CBm");
    layout->addWidget(start_options_heading_);
    layout->addWidget(start_browser_check_);
    layout->addWidget(start_server_check_);
    layout->addWidget(hide_when_minimized_check_);

    start_page_heading_ = heading(QStringLiteral("Startseite"), "Label3", tab);
    start_picture_label_ = named(new QLabel(QStringLiteral("Startbild"), tab), "Label2");
    start_picture_edit_ = named(
        new FileNameEdit(QStringLiteral("Bilder JPG (*.jpg)|*.jpg|Bilder GIF  (*.GIF|*.gif"), {}, tab),
        "FilenameEditStartbild");
    link_text_label_ = named(new QLabel(QStringLiteral("Link-Text"), tab), "Label6");
    link_text_edit_ = named(new QLineEdit(tab), "EditLinktext");
    link_target_label_ = named(new QLabel(QStringLiteral("Hyperlink"), tab), "Label5");
    link_target_edit_ =
        named(new FileNameEdit(QStringLiteral("HTML - Seite  (*.htm*)|*.htm*"), {}, tab), "FilenameEditHtml");
    start_picture_label_->setBuddy(start_picture_edit_);
    link_text_label_->setBuddy(link_text_edit_);
    link_target_label_->setBuddy(link_target_edit_);
    auto* start_page = new QFormLayout;
    start_page->addRow(start_picture_label_, start_picture_edit_);
    start_page->addRow(link_text_label_, link_text_edit_);
    start_page->addRow(link_target_label_, link_target_edit_);
    layout->addWidget(start_page_heading_);
    layout->addLayout(start_page);

    save_button_ = named(new QPushButton(QStringLiteral("Speichern"), tab), "ButtonSpeichern");
    autostart_check_ =
        named(new QCheckBox(QStringLiteral("Programm mit Windows starten (Autostart)"), tab), "Cbautostart");
    auto* save_row = new QHBoxLayout;
    save_row->addWidget(save_button_);
    save_row->addSpacing(20);
    save_row->addWidget(autostart_check_);
    save_row->addStretch(1);
    layout->addLayout(save_row);
    settings_file_label_ = named(new QLabel(tab), "LabelSettingsFile");
    settings_file_label_->setWordWrap(true);
    settings_file_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(settings_file_label_);

    page_memo_ = named(new QPlainTextEdit(tab), "Memo3");
    page_memo_->setReadOnly(true);
    page_memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    page_memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    page_memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(page_memo_, 1);

    connect(save_button_, &QPushButton::clicked, this, &MainWindow::saveSettings);
    connect(database_file_edit_, &FileNameEdit::committed, this, &MainWindow::openChosenDatabase);
    connect(start_picture_edit_, &FileNameEdit::textChanged, this, &MainWindow::keepStartPictureFileName);
    connect(link_target_edit_, &FileNameEdit::textChanged, this, &MainWindow::keepLinkTargetFileName);
    connect(autostart_check_, &QCheckBox::toggled, this, &MainWindow::setAutostart);
    return tab;
}

}  // namespace ringolan::window
