// The settings tab, the upload tab's controls, menus, browser start and minimising.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QMenuBar>
#include <QProgressBar>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QToolButton>

#include "app/settings/autostart.h"
#include "app/settings/paths.h"
#include "app/window/filename_edit.h"
#include "window_fixture.h"

namespace ringolan::window::testing {
namespace {

using WindowSettings = WindowTest;

TEST_F(WindowSettings, ControlsCarryTheirComponentNamesAndCaptions) {
    write_ini(false);
    auto w = open();
    const std::vector<std::pair<const char*, const char*>> labels = {
        {"Label11", "Ergebnisserver"},
        {"Label9", "Nicht aktiv"},
        {"Label8", "Verbundene IP-Adressen"},
        {"Label1", "Achtung! Stellen Sie vor der Betätigung von Start die Verbindung zum Internet her."},
        {"Label4", "Vorläufige Version"},
        {"Label13", "Kennwort"},
        {"Label10", "Datenbank"},
        {"Label7", "Ergebnisserver-Start-Optionen"},
        {"Label3", "Startseite"},
        {"Label2", "Startbild"},
        {"Label6", "Link-Text"},
        {"Label5", "Hyperlink"}};
    for (const auto& [name, caption] : labels) EXPECT_EQ(w->label(name), QString::fromUtf8(caption)) << name;
    const std::vector<std::pair<const char*, const char*>> buttons = {
        {"Button2", "Starten"},
        {"Button1", "start"},
        {"CbIE", "Internetexplorer automatisch starten"},
        {"CBWS", "Ergebnisserver nach Programmstart aktiv"},
        {"CBm", "Ausblenden, wenn minimiert"},
        {"ButtonSpeichern", "Speichern"},
        {"Cbautostart", "Programm mit Windows starten (Autostart)"}};
    for (const auto& [name, caption] : buttons) EXPECT_EQ(w->button(name), QString::fromUtf8(caption)) << name;
    for (const char* heading : {"Label11", "Label7", "Label3"})
        EXPECT_EQ(w->child<QLabel>(heading)->font().pixelSize(), 16) << heading;

    auto* tabs = w->child<QTabWidget>("PageControl1");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "Lokaler Ergebnisserver");
    EXPECT_EQ(tabs->tabText(1), "IT-Upload");
    EXPECT_EQ(tabs->tabText(2), "Einstellungen");
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_EQ(w->window->size(), QSize(719, 721));

    auto* group = w->child<QGroupBox>("RadioGroup1");
    EXPECT_EQ(group->title(), " Filter ");
    const auto radios = group->findChildren<QRadioButton*>();
    ASSERT_EQ(radios.size(), 2);
    EXPECT_EQ(radios[0]->text(), "Alle Starter");
    EXPECT_TRUE(radios[0]->isChecked());
    EXPECT_EQ(radios[1]->text(), "Nur Starter mit Ergebnisse");
    EXPECT_EQ(w->child<QLineEdit>("Edit1")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(w->child<QProgressBar>("ProgressBar1")->maximum(), 100);

    auto* history = w->child<FileNameEdit>("FilenameEdit1")->comboBox();
    ASSERT_NE(history, nullptr);
    ASSERT_EQ(history->count(), 2);
    EXPECT_EQ(history->itemText(0), "Test.mdb");
    EXPECT_EQ(history->itemText(1), "nochwas");
    EXPECT_EQ(w->child<FileNameEdit>("FilenameEdit1")->nameFilters(), QStringList{"Access-Dateien (*.mdb)"});

    QStringList menu_bar;
    for (QAction* a : w->window->menuBar()->actions()) menu_bar << a->text();
    EXPECT_EQ(menu_bar, (QStringList{"Beenden", "Info"}));
    QStringList info;
    for (QAction* a : w->child<QMenu>("Info1")->actions()) info << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(info, (QStringList{"Hilfe zu Ringolan", "-", "Info"}));
    QStringList tray;
    for (QAction* a : w->window->trayMenu()->actions()) tray << a->objectName() + "=" + a->text();
    EXPECT_EQ(tray, (QStringList{"Webserverstoppen1=Webserver starten", "Test1=Einstellungen", "Beenden1=Beenden"}));
    EXPECT_FALSE(w->window->trayIcon()->isVisible());
}

TEST_F(WindowSettings, FieldsShowTheSettingsRecord) {
    write(ini(), "[DB]\r\nName=" + demo_file().string() +
                     "\r\n[Webserver]\r\nAktive=0\r\nIE=1\r\ntaskicon=0\r\n"
                     "[Startseite]\r\nbild=C:\\Bilder\\Sch\xFCtzen.jpg\r\ntext=M\xFCller & Co\r\nhtml=x.htm\r\n");
    auto w = open();
    EXPECT_EQ(w->child<FileNameEdit>("FilenameEdit1")->text(), QString::fromStdString(demo_file().string()));
    EXPECT_FALSE(w->child<QCheckBox>("CBWS")->isChecked());
    EXPECT_TRUE(w->child<QCheckBox>("CbIE")->isChecked());
    EXPECT_FALSE(w->child<QCheckBox>("CBm")->isChecked());
    // Windows-1252 from the file; a full path is cut to its file name.
    EXPECT_EQ(w->child<FileNameEdit>("FilenameEditStartbild")->text(), QString::fromUtf8("Schützen.jpg"));
    EXPECT_EQ(w->child<QLineEdit>("EditLinktext")->text(), QString::fromUtf8("Müller & Co"));
    EXPECT_EQ(w->child<FileNameEdit>("FilenameEditHtml")->text(), "x.htm");
    EXPECT_TRUE(w->label("LabelSettingsFile").contains(QString::fromStdString(ini().string())));
}

TEST_F(WindowSettings, TypingIntoTheDatabaseFieldOpensOnlyTheCompleteName) {
    write_ini(true);
    const fs::path other = root() / "zweite.mdb";
    fs::copy_file(demo_file(), other);
    auto w = open();
    ASSERT_TRUE(w->window->serverRunning());
    const std::string before = read(ini());
    QSignalSpy opened(w->window.get(), &MainWindow::databaseOpenFinished);

    QLineEdit* field = w->child<FileNameEdit>("FilenameEdit1")->lineEdit();
    field->selectAll();
    QTest::keyClicks(field, QString::fromStdString(other.string()));
    QTest::qWait(50);
    EXPECT_EQ(opened.count(), 0);
    EXPECT_FALSE(w->window->databaseOpening());
    EXPECT_TRUE(w->messages.empty());
    EXPECT_TRUE(w->window->serverRunning());  // nothing was stopped while typing
    EXPECT_EQ(read(ini()), before);

    // A control changed but not saved stays out of the file.
    w->child<QLineEdit>("EditLinktext")->setText("nicht gespeichert");

    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(opened.wait(10000) || opened.count() == 1);
    ASSERT_EQ(opened.count(), 1);
    EXPECT_TRUE(opened[0][0].toBool());
    EXPECT_TRUE(w->messages.empty());
    EXPECT_EQ(w->settings.get().DatabaseFile, other.string());
    const setup::Settings saved = setup::Settings::load(ini());
    EXPECT_EQ(saved.DatabaseFile, other.string());
    EXPECT_EQ(saved.LinkText, "Aktuelle Termine");
    // The server ran before, so it runs again, now on the new file.
    EXPECT_TRUE(w->window->serverRunning());
    EXPECT_EQ(w->label("Label9"), "aktiv");
    EXPECT_EQ(w->database.Status().path, other);
}

TEST_F(WindowSettings, AnUnopenableNameShowsOneMessageAndLeavesTheServerStopped) {
    write_ini(true);
    auto w = open();
    const std::string before = read(ini());
    QSignalSpy opened(w->window.get(), &MainWindow::databaseOpenFinished);
    QLineEdit* field = w->child<FileNameEdit>("FilenameEdit1")->lineEdit();
    field->selectAll();
    QTest::keyClicks(field, QString::fromStdString((root() / "halb").string()));
    QTest::keyClick(field, Qt::Key_Enter);
    ASSERT_TRUE(opened.wait(10000) || opened.count() == 1);
    EXPECT_FALSE(opened[0][0].toBool());
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], QString::fromUtf8("Datenbank konnte nicht geöffnet werden!"));
    EXPECT_FALSE(w->window->serverRunning());
    EXPECT_EQ(w->label("Label9"), "gestoppt");
    EXPECT_EQ(w->settings.get().DatabaseFile, demo_file().string());
    EXPECT_EQ(read(ini()), before);
}

TEST_F(WindowSettings, AFileChosenInTheDialogOpensAtOnce) {
    write_ini(false);
    auto w = open();
    auto* edit = w->child<FileNameEdit>("FilenameEdit1");
    const fs::path other = root() / "gewaehlt.mdb";
    fs::copy_file(demo_file(), other);
    edit->chooser = [&](FileNameEdit&) { return QString::fromStdString(other.string()); };
    QSignalSpy opened(w->window.get(), &MainWindow::databaseOpenFinished);
    edit->button()->click();
    ASSERT_TRUE(opened.wait(10000) || opened.count() == 1);
    EXPECT_TRUE(opened[0][0].toBool());
    EXPECT_EQ(edit->text(), QString::fromStdString(other.string()));
    EXPECT_EQ(setup::Settings::load(ini()).DatabaseFile, other.string());
    EXPECT_FALSE(w->window->serverRunning());  // it did not run before

    // A dialog that is cancelled changes nothing.
    edit->chooser = [](FileNameEdit&) { return QString(); };
    edit->button()->click();
    QTest::qWait(50);
    EXPECT_EQ(opened.count(), 1);
}

TEST_F(WindowSettings, SaveButtonWritesTheControlsAndStartPageFieldsKeepTheFileName) {
    write_ini(true);
    auto w = open();
    w->child<QCheckBox>("CBWS")->setChecked(false);
    w->child<QCheckBox>("CbIE")->setChecked(true);
    w->child<QCheckBox>("CBm")->setChecked(true);
    auto* picture = w->child<FileNameEdit>("FilenameEditStartbild");
    picture->setText("C:\\Bilder\\logo.gif");
    EXPECT_EQ(picture->text(), "logo.gif");
    auto* link = w->child<FileNameEdit>("FilenameEditHtml");
    link->lineEdit()->selectAll();
    QTest::keyClicks(link->lineEdit(), "D:termine2.htm");
    EXPECT_EQ(link->text(), "termine2.htm");
    w->child<QLineEdit>("EditLinktext")->setText(QString::fromUtf8("Nächste Termine"));
    EXPECT_EQ(w->settings.get().LinkText, "Aktuelle Termine");  // only the button takes the controls over

    w->child<QAbstractButton>("ButtonSpeichern")->click();
    EXPECT_TRUE(w->messages.empty());
    const setup::Settings saved = setup::Settings::load(ini());
    EXPECT_FALSE(saved.ServerActive);
    EXPECT_TRUE(saved.StartBrowser);
    EXPECT_TRUE(saved.HideWhenMinimized);
    EXPECT_EQ(saved.StartPicture, "logo.gif");
    EXPECT_EQ(saved.LinkText, "N\xE4" "chste Termine");  // Windows-1252 in the file
    EXPECT_EQ(saved.LinkTarget, "termine2.htm");
    EXPECT_EQ(saved.DatabaseFile, demo_file().string());
    EXPECT_EQ(w->settings.get(), saved);
    EXPECT_TRUE(w->window->serverRunning());  // saving neither stops nor reopens
}

TEST_F(WindowSettings, UnwritableSettingsFileShowsTheMessage) {
    write_ini(false);
    auto w = open();
    fs::remove(ini());
    fs::create_directory(ini());  // a folder where the file should be
    w->child<QAbstractButton>("ButtonSpeichern")->click();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], QString::fromStdString("nach " + ini().string() + " kann nicht geschrieben werden"));
}

TEST_F(WindowSettings, AutostartBoxWritesAndRemovesTheEntry) {
    write_ini(false);
    const setup::AutostartEntry entry;  // under the test's XDG_CONFIG_HOME
    auto w = open();
    EXPECT_FALSE(w->child<QCheckBox>("Cbautostart")->isChecked());
    EXPECT_FALSE(fs::exists(entry.file()));  // nothing written when there was no entry

    w->child<QCheckBox>("Cbautostart")->click();
    ASSERT_TRUE(entry.exists());
    EXPECT_EQ(read(entry.file()), setup::AutostartEntry::contents(setup::program_file()));
    w->child<QCheckBox>("Cbautostart")->click();
    EXPECT_FALSE(fs::exists(entry.file()));
    EXPECT_TRUE(w->messages.empty());
}

TEST_F(WindowSettings, AnExistingAutostartEntryIsTickedAndRewrittenWithThisProgram) {
    write_ini(false);
    const setup::AutostartEntry entry;
    entry.enable("/alter/ort/ringolan");
    auto w = open();
    EXPECT_TRUE(w->child<QCheckBox>("Cbautostart")->isChecked());
    EXPECT_EQ(read(entry.file()), setup::AutostartEntry::contents(setup::program_file()));
}

TEST_F(WindowSettings, BrowserOpensOnlyAtTheFirstActivation) {
    write_ini(true, "IE=1\r\n");
    auto w = open();
    EXPECT_TRUE(w->opened.empty());  // not during creation
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(w->window.get(), &activate);
    ASSERT_EQ(w->opened.size(), 1u);
    EXPECT_EQ(w->opened[0].scheme(), "http");
    EXPECT_EQ(w->opened[0].host(), "localhost");
    EXPECT_EQ(w->opened[0].path(), "");
    EXPECT_EQ(w->opened[0].port(), w->window->serverEndpoints().front().port);
    QApplication::sendEvent(w->window.get(), &activate);
    EXPECT_EQ(w->opened.size(), 1u);
}

TEST_F(WindowSettings, BrowserIsNotOpenedWhenCbIEIsClearAtTheFirstActivation) {
    write_ini(false);
    auto w = open(80);
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(w->window.get(), &activate);
    w->child<QCheckBox>("CbIE")->setChecked(true);
    QApplication::sendEvent(w->window.get(), &activate);
    EXPECT_TRUE(w->opened.empty());
}

TEST_F(WindowSettings, HelpAndVersion) {
    write_ini(false);
    auto w = open();
    w->child<QAction>("HilfezuRingolan1")->trigger();
    ASSERT_EQ(w->opened.size(), 1u);
    EXPECT_EQ(w->opened[0], QUrl::fromLocalFile(QString::fromStdString((program_dir() / "Ringolan.chm").string())));
    EXPECT_TRUE(w->messages.empty());  // the missing help file is not reported
    w->child<QAction>("Info2")->trigger();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "Version 1.0.11");
}

TEST_F(WindowSettings, MinimisingWithCBmClearStaysOnTheTaskBar) {
    write_ini(false);
    auto w = open();
    w->window->show();
    w->window->showMinimized();
    QTest::qWait(50);
    EXPECT_TRUE(w->window->isVisible());
    EXPECT_FALSE(w->window->trayIcon()->isVisible());
    // "Einstellungen" brings it back.
    w->child<QAction>("Test1")->trigger();
    EXPECT_FALSE(w->window->isMinimized());
    EXPECT_TRUE(w->window->isVisible());
}

TEST_F(WindowSettings, ClosingFromEitherMenuEndsTheProgram) {
    write_ini(true);
    for (const char* item : {"Beenden1", "Beenden2"}) {
        auto w = open();
        w->window->show();
        QSignalSpy closed(w->window.get(), &MainWindow::closed);
        w->child<QAction>(item)->trigger();
        EXPECT_EQ(closed.count(), 1) << item;
        EXPECT_FALSE(w->window->isVisible()) << item;
        const uint16_t port = w->loopback_port();
        w->window.reset();  // FormDestroy stops the server
        EXPECT_EQ(http_get(port, "/"), "") << item;
    }
    // Also from the tray menu while the window is hidden in the notification area.
    auto w = open();
    w->window->show();
    w->window->hide();
    QSignalSpy closed(w->window.get(), &MainWindow::closed);
    w->child<QAction>("Beenden1")->trigger();
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(WindowSettings, UploadControlsCallTheHookOnly) {
    write_ini(false);
    auto w = open();
    w->child<QAbstractButton>("Button1")->click();  // no site address: no run starts
    int runs = 0;
    w->window->upload_start = [&] { ++runs; };
    w->child<QAbstractButton>("Button1")->click();
    EXPECT_EQ(runs, 1);
    QTest::keyClick(w->child<QLineEdit>("Edit1"), Qt::Key_Return);  // Enter in Edit1 presses Button1
    EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace ringolan::window::testing
