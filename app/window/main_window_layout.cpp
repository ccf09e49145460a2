// The controls of the three tabs and the menus, with their captions and component names.
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

void TfmHTTPServerMain::buildMenus() {
    Beenden2 = named(menuBar()->addAction(QStringLiteral("Beenden")), "Beenden2");
    connect(Beenden2, &QAction::triggered, this, &TfmHTTPServerMain::Beenden2Click);
    Info1 = named(menuBar()->addMenu(QStringLiteral("Info")), "Info1");
    HilfezuRingolan1 = named(Info1->addAction(QStringLiteral("Hilfe zu Ringolan")), "HilfezuRingolan1");
    Info1->addSeparator();
    Info2 = named(Info1->addAction(QStringLiteral("Info")), "Info2");
    connect(HilfezuRingolan1, &QAction::triggered, this, &TfmHTTPServerMain::HilfezuRingolan1Click);
    connect(Info2, &QAction::triggered, this, &TfmHTTPServerMain::Info2Click);

    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    Webserverstoppen1 = named(PopupMenu1->addAction(QStringLiteral("Webserver starten")), "Webserverstoppen1");
    Test1 = named(PopupMenu1->addAction(QStringLiteral("Einstellungen")), "Test1");
    Beenden1 = named(PopupMenu1->addAction(QStringLiteral("Beenden")), "Beenden1");
    connect(Webserverstoppen1, &QAction::triggered, this, &TfmHTTPServerMain::Webserverstoppen1Click);
    connect(Test1, &QAction::triggered, this, &TfmHTTPServerMain::Test1Click);
    connect(Beenden1, &QAction::triggered, this, &TfmHTTPServerMain::Beenden1Click);
}

QWidget* TfmHTTPServerMain::buildServerTab() {
    auto* tab = named(new QWidget, "TabSheet1");
    auto* layout = new QGridLayout(tab);
    Label11 = heading(QStringLiteral("Ergebnisserver"), "Label11", tab);
    Shape1 = named(new StateCircle(tab), "Shape1");
    Label9 = named(new QLabel(QStringLiteral("Nicht aktiv"), tab), "Label9");
    Button2 = named(new QPushButton(QStringLiteral("Starten"), tab), "Button2");
    Label8 = named(new QLabel(QStringLiteral("Verbundene IP-Adressen"), tab), "Label8");
    Memo1 = named(new QPlainTextEdit(tab), "Memo1");
    Memo1->setEnabled(false);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setMaximumHeight(140);
    connect(Button2, &QPushButton::clicked, this, &TfmHTTPServerMain::Button2Click);

    layout->addWidget(Label11, 0, 0, 1, 3);
    layout->addWidget(Shape1, 1, 0);
    layout->addWidget(Label9, 1, 1);
    layout->addWidget(Button2, 1, 2, Qt::AlignLeft);
    layout->addWidget(Label8, 2, 0, 1, 3);
    layout->addWidget(Memo1, 3, 0, 1, 3);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(4, 1);
    return tab;
}

QWidget* TfmHTTPServerMain::buildUploadTab() {
    auto* tab = named(new QWidget, "TabSheet2");
    auto* layout = new QVBoxLayout(tab);
    Label1 = named(new QLabel(QStringLiteral(
                       "Achtung! Stellen Sie vor der Betätigung von Start die Verbindung zum Internet her."),
                              tab),
                   "Label1");
    Label1->setWordWrap(true);
    RadioGroup1 = named(new QGroupBox(QStringLiteral(" Filter "), tab), "RadioGroup1");
    auto* radios = new QVBoxLayout(RadioGroup1);
    auto* all = named(new QRadioButton(QStringLiteral("Alle Starter"), RadioGroup1), "RadioGroup1Item0");
    auto* with_results =
        named(new QRadioButton(QStringLiteral("Nur Starter mit Ergebnisse"), RadioGroup1), "RadioGroup1Item1");
    all->setChecked(true);
    radios->addWidget(all);
    radios->addWidget(with_results);
    Label4 = named(new QLabel(QStringLiteral("Vorläufige Version"), tab), "Label4");
    Button1 = named(new QPushButton(QStringLiteral("start"), tab), "Button1");
    Label13 = named(new QLabel(QStringLiteral("Kennwort"), tab), "Label13");
    Edit1 = named(new QLineEdit(tab), "Edit1");
    Edit1->setEchoMode(QLineEdit::Password);
    Edit1->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
    Label13->setBuddy(Edit1);
    ProgressBar1 = named(new QProgressBar(tab), "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    Memo2 = named(new QPlainTextEdit(tab), "Memo2");
    Memo2->setReadOnly(true);
    Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StatusBar2 = named(new QStatusBar(tab), "StatusBar2");
    StatusBar2->setSizeGripEnabled(false);
    LabelSiteAddress = named(new QLabel(QStringLiteral("Adresse der Ergebnis-Website"), tab), "LabelSiteAddress");
    EditSiteAddress = named(new QLineEdit(tab), "EditSiteAddress");
    EditSiteAddress->setPlaceholderText(QStringLiteral("https://ergebnisse.example.org"));
    LabelSiteAddress->setBuddy(EditSiteAddress);
    LabelSiteAccountId = named(new QLabel(QStringLiteral("Konto"), tab), "LabelSiteAccountId");
    EditSiteAccountId = named(new QLineEdit(tab), "EditSiteAccountId");
    LabelSiteAccountId->setBuddy(EditSiteAccountId);
    ButtonAbbrechen = named(new QPushButton(QStringLiteral("abbrechen"), tab), "ButtonAbbrechen");
    ButtonAbbrechen->setEnabled(false);
    connect(Button1, &QPushButton::clicked, this, &TfmHTTPServerMain::Button1Click);
    connect(Edit1, &QLineEdit::returnPressed, Button1, &QPushButton::click);
    connect(ButtonAbbrechen, &QPushButton::clicked, this, &TfmHTTPServerMain::ButtonAbbrechenClick);
    auto* site = new QFormLayout;
    site->addRow(LabelSiteAddress, EditSiteAddress);
    site->addRow(LabelSiteAccountId, EditSiteAccountId);

    auto* start_row = new QHBoxLayout;
    start_row->addWidget(Label4);
    start_row->addStretch(1);
    start_row->addWidget(Label13);
    start_row->addWidget(Edit1);
    start_row->addWidget(Button1);
    start_row->addWidget(ButtonAbbrechen);
    layout->addWidget(Label1);
    layout->addLayout(site);
    layout->addWidget(RadioGroup1);
    layout->addLayout(start_row);
    layout->addWidget(ProgressBar1);
    layout->addWidget(Memo2, 1);
    layout->addWidget(StatusBar2);
    return tab;
}

QWidget* TfmHTTPServerMain::buildSettingsTab() {
    auto* tab = named(new QWidget, "TabSheet3");
    auto* layout = new QVBoxLayout(tab);

    Label10 = named(new QLabel(QStringLiteral("Datenbank"), tab), "Label10");
    FilenameEdit1 = named(new FileNameEdit(QStringLiteral("Access-Dateien|*.mdb"),
                                           {QStringLiteral("Test.mdb"), QStringLiteral("nochwas")}, tab),
                          "FilenameEdit1");
    Label10->setBuddy(FilenameEdit1);
    auto* database = new QFormLayout;
    database->addRow(Label10, FilenameEdit1);
    layout->addLayout(database);

    Label7 = heading(QStringLiteral("Ergebnisserver-Start-Optionen"), "Label7", tab);
    CbIE = named(new QCheckBox(QStringLiteral("Internetexplorer automatisch starten"), tab), "CbIE");
    CBWS = named(new QCheckBox(QStringLiteral("Ergebnisserver nach Programmstart aktiv"), tab), "CBWS");
    CBm = named(new QCheckBox(QStringLiteral("Ausblenden, wenn minimiert"), tab), "CBm");
    layout->addWidget(Label7);
    layout->addWidget(CbIE);
    layout->addWidget(CBWS);
    layout->addWidget(CBm);

    Label3 = heading(QStringLiteral("Startseite"), "Label3", tab);
    Label2 = named(new QLabel(QStringLiteral("Startbild"), tab), "Label2");
    FilenameEditStartbild = named(
        new FileNameEdit(QStringLiteral("Bilder JPG (*.jpg)|*.jpg|Bilder GIF  (*.GIF|*.gif"), {}, tab),
        "FilenameEditStartbild");
    Label6 = named(new QLabel(QStringLiteral("Link-Text"), tab), "Label6");
    EditLinktext = named(new QLineEdit(tab), "EditLinktext");
    Label5 = named(new QLabel(QStringLiteral("Hyperlink"), tab), "Label5");
    FilenameEditHtml =
        named(new FileNameEdit(QStringLiteral("HTML - Seite  (*.htm*)|*.htm*"), {}, tab), "FilenameEditHtml");
    Label2->setBuddy(FilenameEditStartbild);
    Label6->setBuddy(EditLinktext);
    Label5->setBuddy(FilenameEditHtml);
    auto* start_page = new QFormLayout;
    start_page->addRow(Label2, FilenameEditStartbild);
    start_page->addRow(Label6, EditLinktext);
    start_page->addRow(Label5, FilenameEditHtml);
    layout->addWidget(Label3);
    layout->addLayout(start_page);

    ButtonSpeichern = named(new QPushButton(QStringLiteral("Speichern"), tab), "ButtonSpeichern");
    Cbautostart = named(new QCheckBox(QStringLiteral("Programm mit Windows starten (Autostart)"), tab), "Cbautostart");
    auto* save_row = new QHBoxLayout;
    save_row->addWidget(ButtonSpeichern);
    save_row->addSpacing(20);
    save_row->addWidget(Cbautostart);
    save_row->addStretch(1);
    layout->addLayout(save_row);
    LabelSettingsFile = named(new QLabel(tab), "LabelSettingsFile");
    LabelSettingsFile->setWordWrap(true);
    LabelSettingsFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(LabelSettingsFile);

    Memo3 = named(new QPlainTextEdit(tab), "Memo3");
    Memo3->setReadOnly(true);
    Memo3->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo3->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(Memo3, 1);

    connect(ButtonSpeichern, &QPushButton::clicked, this, &TfmHTTPServerMain::ButtonSpeichernClick);
    connect(FilenameEdit1, &FileNameEdit::committed, this, &TfmHTTPServerMain::FilenameEdit1Change);
    connect(FilenameEditStartbild, &FileNameEdit::textChanged, this,
            &TfmHTTPServerMain::FilenameEditStartbildChange);
    connect(FilenameEditHtml, &FileNameEdit::textChanged, this, &TfmHTTPServerMain::FilenameEditHtmlChange);
    connect(Cbautostart, &QCheckBox::toggled, this, &TfmHTTPServerMain::CbautostartClick);
    return tab;
}

}  // namespace ringolan::window
