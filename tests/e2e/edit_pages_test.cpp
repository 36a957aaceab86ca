// The whole program's editor as a user meets it. In headless Chromium, the
// real editor pages are saved unchanged and then twice more from pages built
// before the earlier saves: each save changes only what was changed on its
// page (two positions in a folder without organiser data, a rename with a
// position), a top-level folder named Root is not the Favorites folder, and two
// favourites of one name in two folders are both left alone. Over sockets:
// letter case, refused actions on the answer page, names outside ASCII, the
// organiser position kept into the next run, and suggestions added once;
// only shortcut files are edited, never through a link at the name, and a
// blank name is refused.
#include "catalogue/encodings.h"
#include "catalogue_reader.h"
#include "pages/headless_browser.h"
#include "program_run.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <gtest/gtest.h>

using e2e::postForm;
using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

QByteArray shortcut(const QString& url) {
    return "[InternetShortcut]\r\nURL=" + url.toUtf8() + "\r\n";
}

QStringList filesBelow(const QString& folder) {
    QStringList files;
    const QString root = QDir(folder).absolutePath();
    for (const QFileInfo& info :
         QDir(root).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (info.isDir())
            for (const QString& inner : filesBelow(info.filePath()))
                files << info.fileName() + '/' + inner;
        else
            files << info.fileName();
    }
    return files;
}

QByteArray settings(quint16 port) {
    return "[Data]\r\nPort=" + QByteArray::number(port) +
           "\r\n[General]\r\nHistory=0\r\nAutoStart=0\r\nNewPage=0\r\nAutorefresh=0\r\n";
}

class EditorInBrowser {
public:
    EditorInBrowser(pagetest::HeadlessBrowser& browser, quint16 port)
        : browser_(browser), port_(port) {}

    // Opens the editor in a new tab: the pages of the last refresh run.
    bool open() {
        return browser_.open(QString("http://localhost:%1/editor.htm").arg(port_)) &&
               browser_.waitFor("frames.length == 3 && "
                                "frames['mymain'].document.readyState == 'complete' && "
                                "!!frames['mymain'].document.forms['myedit'] && "
                                "frames['footer'].document.readyState == 'complete'",
                                60000);
    }
    QString js(const QString& expression) { return browser_.evaluate(expression).toString(); }
    // Presses "Save Changes" and returns the text of the answer page.
    QString save() {
        js("frames['footer'].document.getElementsByName('B1')[0].click(), ''");
        if (!browser_.waitFor("frames['mymain'].document.readyState == 'complete' && "
                              "frames['mymain'].document.body.innerText.includes('recorded')",
                              30000))
            return {};
        return js("frames['mymain'].document.body.innerText");
    }
    QString field(const QString& name) {
        return "frames['mymain'].document.getElementsByName('" + name + "')[0]";
    }
    // Chooses a folder as a user does, by the option's position.
    void choose(const QString& combo, const QString& optionTest) {
        js("(function(){var s = " + field(combo) +
           "; s.selectedIndex = Array.from(s.options).findIndex(o => " + optionTest +
           "); s.dispatchEvent(new Event('change')); return '';})()");
    }

private:
    pagetest::HeadlessBrowser& browser_;
    quint16 port_;
};

// A Favorites tree, the local site its favourites point at, and the program
// run over it with its pages written once (no refresh on changes).
class ProgramEditor : public ::testing::Test {
protected:
    void start(ProgramRun& program) {
        program.writeSettings(settings(port));
        program.start();
        ASSERT_TRUE(program.waitForStderr("All Done", 180000)) << qPrintable(program.stderrText());
    }
    QByteArray id(const QString& relative) const {
        return catalogue::HexEncode(QFile::encodeName(fav + '/' + relative));
    }

    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
    const QString fav = home.favorites();
};

} // namespace

TEST_F(ProgramEditor, SavesFromOldEditorPagesChangeOnlyWhatWasChangedOnThem) {
    home.write("Favorites/Top.url", shortcut(site.url("/title")));
    home.write("Favorites/Root/InRoot.url", shortcut(site.url("/title")));
    home.write("Favorites/Links/Weather.url", shortcut(site.url("/title?links")));
    home.write("Favorites/News/Weather.url", shortcut(site.url("/title?news")));
    home.write("Favorites/News/Script.url", shortcut("javascript:document.title='ran'"));
    const QStringList before = filesBelow(fav);

    ProgramRun program(home);
    ASSERT_NO_FATAL_FAILURE(start(program));
    auto id = [&](const QString& relative) { return QString::fromLatin1(this->id(relative)); };

    pagetest::HeadlessBrowser browser;
    EditorInBrowser editor(browser, port);
    ASSERT_TRUE(editor.open());
    // A favourite whose address would run script is not a link.
    EXPECT_EQ(editor.js("frames['mymain'].document.links.length + ''"), "4");
    EXPECT_EQ(editor.js("Array.from(frames['mymain'].document.links).filter(a => "
                        "a.protocol != 'http:').length + ''"),
              "0");

    // Save 1, nothing changed: nothing moves, no error box.
    const QString first = editor.save();
    EXPECT_TRUE(first.contains("there were 15 results from127.0.0.1")) << qPrintable(first);
    EXPECT_FALSE(first.contains("Favourite")) << qPrintable(first);
    EXPECT_EQ(filesBelow(fav), before);

    // Two positions in a folder without organiser data: the first one set
    // gives the folder its data, and the second is still applied.
    ASSERT_TRUE(editor.open());
    editor.js(editor.field("OB" + id("News/Weather.url")) + ".value = '0'");
    editor.js(editor.field("OB" + id("News/Script.url")) + ".value = '1'");
    const QString positions = editor.save();
    EXPECT_TRUE(positions.contains("Changed Favourite Weather.url sort order to 0"))
        << qPrintable(positions);
    EXPECT_TRUE(positions.contains("Changed Favourite Script.url sort order to 1"))
        << qPrintable(positions);
    EXPECT_FALSE(positions.contains("Skipped")) << qPrintable(positions);

    // Save 2, from the same (now old) editor pages: Top.url to Links, and
    // the News Weather to the Favorites folder itself (the first "Root").
    ASSERT_TRUE(editor.open());
    editor.choose("Combo" + id("Top.url"), "o.value == 'Links'");
    editor.choose("Combo" + id("News/Weather.url"), "o.getAttribute('data-top') == 'yes'");
    const QString second = editor.save();
    EXPECT_TRUE(second.contains("Moved Favourite Top to \\Links\\")) << qPrintable(second);
    EXPECT_TRUE(second.contains("Moved Favourite Weather to \\")) << qPrintable(second);
    EXPECT_EQ(home.read("Favorites/Links/Top.url"), shortcut(site.url("/title")));
    EXPECT_EQ(home.read("Favorites/Weather.url"), shortcut(site.url("/title?news")));
    EXPECT_EQ(home.read("Favorites/Links/Weather.url"), shortcut(site.url("/title?links")));

    // Save 3, from pages built before both saves: a rename, and one of a
    // favourite that save 2 moved away, which is skipped.
    ASSERT_TRUE(editor.open());
    editor.js(editor.field("Edit" + id("Root/InRoot.url")) + ".value = 'Renamed'");
    editor.js(editor.field("OB" + id("Root/InRoot.url")) + ".value = '4'");
    editor.js(editor.field("Edit" + id("News/Weather.url")) + ".value = 'Storm'");
    const QString third = editor.save();
    EXPECT_TRUE(third.contains("Renamed Favourite InRoot to Renamed")) << qPrintable(third);
    EXPECT_TRUE(third.contains("Changed Favourite Renamed.URL sort order to 4"))
        << qPrintable(third);
    EXPECT_TRUE(third.contains("Skipped renaming Weather")) << qPrintable(third);
    EXPECT_EQ(filesBelow(fav), (QStringList{"Links/Top.url", "Links/Weather.url", "News/Script.url",
                                            "Root/Renamed.URL", "Weather.url"}));
    // No error box (its text is the error code) was shown.
    EXPECT_FALSE(program.stderrText().contains("Pagorama: 17\n"))
        << qPrintable(program.stderrText());

    // The viewer shows the script address as text too.
    ASSERT_TRUE(browser.open(QString("http://localhost:%1/").arg(port)));
    // A frame's first document is an empty one that is complete at once.
    ASSERT_TRUE(browser.waitFor("frames.length == 3 && "
                                "frames['mymain'].location.protocol == 'http:' && "
                                "frames['mymain'].document.readyState == 'complete'",
                                60000));
    EXPECT_EQ(browser
                  .evaluate("Array.from(frames['mymain'].document.links).filter(a => "
                            "a.protocol != 'http:').length + ''")
                  .toString(),
              "0");
    EXPECT_TRUE(
        browser.evaluate("frames['mymain'].document.body.innerText").toString().contains("Script"));
    EXPECT_EQ(program.terminate(), 0);
}

TEST_F(ProgramEditor, EditsOverTheServerKeepEveryFavouriteAndSayWhatWasRefused) {
    home.write("Favorites/Links/Weather.url", shortcut(site.url("/title?w")));
    home.write("Favorites/Links/forecast.url", shortcut(site.url("/title?f")));
    home.write("Favorites/News/weather.URL", shortcut(site.url("/title?n")));

    ProgramRun program(home);
    ASSERT_NO_FATAL_FAILURE(start(program));
    auto edit = [&](const QByteArray& body) {
        return postForm(port, "/cgi-bin/cgifrm1.exe", body);
    };

    // A rename that changes letter case only.
    auto reply = edit("Edit" + id("Links/Weather.url") + "=weather");
    EXPECT_TRUE(reply.body.contains("Renamed Favourite Weather to weather<br>"))
        << reply.raw.data();
    // A rename onto another favourite's name in another letter case.
    reply = edit("Edit" + id("Links/weather.URL") + "=Forecast");
    EXPECT_TRUE(reply.body.contains("Refused renaming weather to Forecast: the folder holds "
                                    "forecast.url, a name that differs only by letter case"))
        << reply.body.data();
    // A move onto an existing name.
    reply = edit("Combo" + id("Links/weather.URL") + "=News");
    EXPECT_TRUE(reply.body.contains("Refused moving weather to \\News\\: File exists (error 17)"))
        << reply.body.data();
    // A name outside ASCII, declared as UTF-8 on the answer.
    reply = edit("Edit" + id("Links/forecast.url") + "=M%C3%A9t%C3%A9o");
    EXPECT_EQ(reply.header("Content-Type"), "text/html; charset=UTF-8");
    EXPECT_TRUE(reply.body.contains("Renamed Favourite forecast to M\xC3\xA9t\xC3\xA9o<br>"))
        << reply.body.data();
    EXPECT_EQ(filesBelow(fav),
              (QStringList{"Links/M\u00e9t\u00e9o.URL", "Links/weather.URL", "News/weather.URL"}));
    EXPECT_EQ(home.read("Favorites/Links/weather.URL"), shortcut(site.url("/title?w")));
    EXPECT_EQ(home.read("Favorites/News/weather.URL"), shortcut(site.url("/title?n")));

    // A sort order in a folder without organiser data.
    reply = edit("OB" + id("Links/weather.URL") + "=7");
    EXPECT_TRUE(reply.body.contains("Changed Favourite weather.URL sort order to 7"))
        << reply.body.data();

    // A suggestion added with its query as visited, then pressed again.
    const QString address = site.url("/title?q=a&b=c");
    const QByteArray suggestion = QUrl::toPercentEncoding(address) + "=Add+to+favourites";
    reply = postForm(port, "/cgi-bin/cgifrm2.exe", suggestion);
    EXPECT_TRUE(reply.body.contains("Added Favourite Test Title <br>")) << reply.body.data();
    reply = postForm(port, "/cgi-bin/cgifrm2.exe", suggestion);
    EXPECT_TRUE(reply.body.contains("Favourite Test Title already holds")) << reply.body.data();
    EXPECT_EQ(home.read("Favorites/Test Title.URL"), shortcut(address));
    EXPECT_FALSE(QFile::exists(fav + "/Test Title (2).URL"));
    EXPECT_EQ(program.terminate(), 0);

    // The next run keeps the positions: the folder's other favourite first.
    ProgramRun again(home);
    ASSERT_NO_FATAL_FAILURE(start(again));
    QString error;
    const auto folders = e2e::readCatalogue(home.read("Documents/pagorama/listings.xml"), &error);
    ASSERT_TRUE(error.isEmpty()) << qPrintable(error);
    QStringList links;
    for (const e2e::CatalogueFolder& folder : folders)
        if (folder.location == "Links")
            for (const e2e::CatalogueLink& link : folder.links)
                links << link.value("DESCRIPTION") + '=' + link.value("SORT_ORDER");
    EXPECT_EQ(links, (QStringList{"M\u00e9t\u00e9o=0", "weather=7"}));
    EXPECT_EQ(again.terminate(), 0);
}

TEST_F(ProgramEditor, EditsActOnShortcutFilesOnlyNeverThroughALinkAndRefuseBlankNames) {
    home.write("Favorites/secret.txt", "not a favourite");
    home.write("Favorites/Plain.url", shortcut(site.url("/title?p")));
    home.write("outside/Target.url", shortcut(site.url("/title?t")));
    home.write("elsewhere/Linked.url", shortcut(site.url("/title?l")));
    ASSERT_TRUE(QFile::link(home.path() + "/outside/Target.url", fav + "/Link.url"));
    // A folder the user linked into Favorites is edited as before.
    ASSERT_TRUE(QFile::link(home.path() + "/elsewhere", fav + "/Linked folder"));
    ProgramRun program(home);
    ASSERT_NO_FATAL_FAILURE(start(program));
    auto edit = [&](const QByteArray& body) {
        return postForm(port, "/cgi-bin/cgifrm1.exe", body).body;
    };

    QByteArray reply = edit("Edit" + id("secret.txt") + "=stolen&CB" + id("secret.txt") +
                            "=deleteme&Edit" + id("Link.url") + "=Moved&Combo" + id("Link.url") +
                            "=Linked+folder&CB" + id("Link.url") + "=deleteme");
    auto notShortcut = [&](const char* name) {
        return "Refused " + QFile::encodeName(fav) + '/' + name + ": not a shortcut file<br>";
    };
    EXPECT_EQ(reply.count(notShortcut("secret.txt")), 2) << reply.constData();
    EXPECT_EQ(reply.count(notShortcut("Link.url")), 3) << reply.constData();

    reply = edit("Edit" + id("Plain.url") + "=%20%20&Edit" + id("Linked folder/Linked.url") +
                 "=Renamed");
    EXPECT_TRUE(reply.contains("Refused renaming Plain: the new name is blank<br>"))
        << reply.constData();
    EXPECT_TRUE(reply.contains("Renamed Favourite Linked to Renamed<br>")) << reply.constData();
    reply = edit("Edit" + id("Plain.url") + "=");
    EXPECT_TRUE(reply.contains("Refused renaming Plain: the new name is blank<br>"))
        << reply.constData();

    // A link named as the page's title is not read as a favourite holding
    // its address: the new favourite gets the next name.
    const QString address = site.url("/title?t");
    ASSERT_TRUE(QFile::link(home.path() + "/outside/Target.url", fav + "/Test Title.URL"));
    reply = postForm(port, "/cgi-bin/cgifrm2.exe",
                     QUrl::toPercentEncoding(address) + "=Add+to+favourites")
                .body;
    EXPECT_TRUE(reply.contains("Added Favourite Test Title (2) <br>")) << reply.constData();

    EXPECT_EQ(filesBelow(fav), (QStringList{"Link.url", "Linked folder/Renamed.URL", "Plain.url",
                                            "Test Title (2).URL", "Test Title.URL", "secret.txt"}));
    EXPECT_EQ(QFileInfo(fav + "/Link.url").symLinkTarget(), home.path() + "/outside/Target.url");
    EXPECT_EQ(home.read("outside/Target.url"), shortcut(site.url("/title?t")));
    EXPECT_EQ(home.read("Favorites/secret.txt"), "not a favourite");
    EXPECT_EQ(program.terminate(), 0);
}
