// The upload tab, offscreen: a run against ringolan-site from the window, the start button
// disabled while it runs, log lines arriving while the window stays live, cancel, and the
// error box of a failed run.
#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "tests/upload/script_peer.h"
#include "tests/upload/site_process.h"
#include "window_fixture.h"

namespace ringolan::window::testing {
namespace {

class WindowUpload : public WindowTest {
protected:
    QStringList log(WindowUnderTest& w) const {
        return w.child<QPlainTextEdit>("Memo2")->toPlainText().split(QLatin1Char('\n'));
    }
    void fill(WindowUnderTest& w, const std::string& base, const QString& password) {
        w.child<QLineEdit>("EditSiteAddress")->setText(QString::fromStdString(base));
        w.child<QLineEdit>("EditSiteAccountId")->setText(QStringLiteral("club1"));
        w.child<QLineEdit>("Edit1")->setText(password);
    }
};

TEST_F(WindowUpload, ARunFromTheWindowPublishesTheCompetition) {
    test_upload::SiteProcess site(RINGOLAN_SITE_PROGRAM, root() / "site", "club1", "geheim");
    write_ini(false);
    auto w = open();
    fill(*w, site.base(), QStringLiteral("geheim"));
    auto* start = w->child<QPushButton>("Button1");
    start->click();
    EXPECT_FALSE(start->isEnabled());  // until the run has ended
    EXPECT_TRUE(w->child<QPushButton>("ButtonAbbrechen")->isEnabled());
    ASSERT_TRUE(wait_for([&] { return start->isEnabled(); }, 60000));

    const QStringList lines = log(*w);
    ASSERT_EQ(lines.size(), 15) << lines.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("OK. Alte Daten wurden gelöscht"));
    const std::regex table_line(R"(^[a-z_]+-Daten \(\d+ Datensätze\) OK $)");
    for (int i = 1; i <= 12; ++i) EXPECT_TRUE(std::regex_match(lines[i].toStdString(), table_line)) << lines[i].toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("starter-Daten (12 ")));
    EXPECT_TRUE(lines[13].endsWith(QStringLiteral(" Datensätze fertig hochgeladen.")));
    EXPECT_EQ(lines[14], QStringLiteral("Upload erfolgreich beendet."));
    EXPECT_EQ(w->child<QProgressBar>("ProgressBar1")->value(), 100);
    EXPECT_FALSE(w->child<QPushButton>("ButtonAbbrechen")->isEnabled());
    EXPECT_TRUE(w->messages.empty());
    EXPECT_TRUE(fs::exists(site.database("club1")));
    EXPECT_TRUE(fs::exists(program_dir() / "dclub1.sql.gz"));

    // The tab's values were taken into the settings file.
    const std::string ini_text = read(ini());
    EXPECT_NE(ini_text.find("[IT-Upload]\r\nKonto=club1\r\nAdresse=" + site.base() + "\r\nPasswort=geheim\r\n"),
              std::string::npos)
        << ini_text;
    // and come back with the next window.
    w.reset();
    auto again = open();
    EXPECT_EQ(again->child<QLineEdit>("EditSiteAccountId")->text(), QStringLiteral("club1"));
    EXPECT_EQ(again->child<QLineEdit>("Edit1")->text(), QStringLiteral("geheim"));
}

TEST_F(WindowUpload, ARunWaitingForTheSiteCanBeCancelled) {
    upload::testing::ScriptPeer silent({[](upload::testing::PeerConn& c) {
        c.read_request();
        c.wait_closed(std::chrono::seconds(30));  // never answers
    }});
    write_ini(false);
    auto w = open();
    fill(*w, silent.base(), QStringLiteral("pw"));
    auto* start = w->child<QPushButton>("Button1");
    start->click();
    // The first line arrives while the request hangs: the window is live.
    ASSERT_TRUE(wait_for([&] { return log(*w).first() == QStringLiteral("Alte Daten werden gelöscht ..."); }));
    EXPECT_FALSE(start->isEnabled());
    QTest::qWait(200);
    EXPECT_FALSE(start->isEnabled());
    w->child<QPushButton>("ButtonAbbrechen")->click();
    ASSERT_TRUE(wait_for([&] { return start->isEnabled(); }, 10000));
    EXPECT_EQ(log(*w), (QStringList{QStringLiteral("Alte Daten werden gelöscht ..."), QStringLiteral("Upload abgebrochen.")}));
    EXPECT_TRUE(w->messages.empty());  // cancelling is no error
}

TEST_F(WindowUpload, EnterWithAWrongPasswordShowsTheErrorBox) {
    test_upload::SiteProcess site(RINGOLAN_SITE_PROGRAM, root() / "site", "club1", "geheim");
    write_ini(false);
    auto w = open();
    fill(*w, site.base(), QStringLiteral("falsch"));
    QTest::keyClick(w->child<QLineEdit>("Edit1"), Qt::Key_Return);
    auto* start = w->child<QPushButton>("Button1");
    EXPECT_FALSE(start->isEnabled());
    ASSERT_TRUE(wait_for([&] { return start->isEnabled(); }, 20000));
    EXPECT_EQ(log(*w), (QStringList{QStringLiteral("Alte Daten werden gelöscht ..."),
                                    QStringLiteral("Fehler!! Beim löschen alter Daten. (falsches Passwort?)")}));
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], QStringLiteral("Fehler beim löschen bestehender Daten. evtl falsches Passwort."));
}

TEST_F(WindowUpload, WithoutASiteAddressNothingStarts) {
    write_ini(false);
    auto w = open();
    w->child<QPushButton>("Button1")->click();
    EXPECT_TRUE(w->child<QPushButton>("Button1")->isEnabled());
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], QStringLiteral("Keine Adresse der Ergebnis-Website eingetragen."));
}

TEST_F(WindowUpload, TheLiveBoxPublishesUntilUntickedAndStopsOnAWrongPassword) {
    test_upload::SiteProcess site(RINGOLAN_SITE_PROGRAM, root() / "site-live", "club1", "geheim");
    write_ini(false);
    auto w = open();
    auto* live = w->child<QCheckBox>("CheckLive");
    auto logged = [&](const QString& start) {
        const QStringList lines = log(*w);
        return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(start); });
    };
    fill(*w, site.base(), QStringLiteral("geheim"));
    live->setChecked(true);
    ASSERT_TRUE(wait_for([&] { return logged(QStringLiteral("Live: Stapel 1 eingetragen (12 Tabellen")); }, 60000))
        << log(*w).join(QLatin1Char('|')).toStdString();
    EXPECT_NE(read(ini()).find("Passwort=geheim\r\nLive=1\r\n"), std::string::npos);
    live->setChecked(false);
    EXPECT_TRUE(logged(QStringLiteral("Live-Veröffentlichung beendet.")));
    EXPECT_NE(read(ini()).find("Live=0\r\n"), std::string::npos);

    // A wrong password ends publishing with the site's refusal and unticks the box.
    fill(*w, site.base(), QStringLiteral("falsch"));
    live->setChecked(true);
    ASSERT_TRUE(wait_for([&] { return !live->isChecked(); }, 60000));
    EXPECT_TRUE(logged(QStringLiteral("Live-Veröffentlichung beendet: Anmeldung an der Website fehlgeschlagen")));
    EXPECT_TRUE(w->messages.empty());
}

}  // namespace
}  // namespace ringolan::window::testing

// Fontconfig keeps its caches to the end of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
