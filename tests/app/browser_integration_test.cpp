// The autostart entry, the browser start page takeover and the default
// browser, against the registry store and files in a temporary HOME.
#include "app/browser_integration.h"
#include "app/product_page.h"
#include "catalogue/refresh_run.h"
#include "catalogue/shortcut_file.h"
#include "platform/autostart.h"
#include "platform/folder_monitor.h"
#include "platform/message_service.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/program_fixture.h"
#include "support/temp_home.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QThread>

#include <gtest/gtest.h>

namespace {

using platform::RegistryHive;
namespace regerror = platform::regerror;

const QString RunKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString MainKey = QStringLiteral("Software\\Microsoft\\Internet Explorer\\Main");

std::optional<QString> readValue(RegistryHive hive, const QString& path, const QString& name) {
    platform::RegistryKey key;
    if (key.open(hive, path, false) != regerror::Success)
        return std::nullopt;
    return key.readString(name);
}

void writeValue(RegistryHive hive, const QString& path, const QString& name, const QString& text) {
    platform::RegistryKey key;
    ASSERT_EQ(key.open(hive, path, true), regerror::Success);
    ASSERT_EQ(key.writeString(name, text), regerror::Success);
}

void setBrowserCommand(const QString& command) {
    writeValue(RegistryHive::ClassesRoot, "htmlfile\\shell\\open\\command", "", command);
}

// A browser command that writes the address it is given into out.
QString recordingBrowser(const QString& out) {
    return "/bin/sh -c 'printf %s \"$1\" > \"$0\"' '" + out + "' \"%1\"";
}

QString waitForText(const QString& path) {
    QDeadlineTimer deadline(60000);
    while (QFileInfo(path).size() == 0 && !deadline.hasExpired())
        QThread::msleep(20);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class BrowserIntegration : public ::testing::Test {
protected:
    // The program's shortcut writer, counting the paths it announces as its own.
    app::StartPageTakeover takeOver(const QString& port) {
        return app::TakeOverStartPage(
            port, home.favorites(), [this](const QString& fileName, const QString& url) {
                return catalogue::WriteUrlFile(fileName, url, [this](const QString&) { ++marks; });
            });
    }
    QString keptFile() const { return home.favorites() + QStringLiteral("/_Old Home Page.URL"); }
    QByteArray kept() const {
        QFile file(keptFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    std::optional<QString> startPage() const {
        return readValue(RegistryHive::CurrentUser, MainKey, QStringLiteral("Start Page"));
    }

    testsupport::TempHome home;
    int marks = 0;
};

TEST_F(BrowserIntegration, AutostartValueAndItsDesktopEntry) {
    const QString exe = QStringLiteral("/opt/pagorama dir/pagorama");
    app::UpdateAutostart(QStringLiteral("Pagorama"), exe, true);
    EXPECT_EQ(readValue(RegistryHive::LocalMachine, RunKey, QStringLiteral("Pagorama")), exe);
    EXPECT_TRUE(QFile::exists(platform::autostartFilePath()));

    app::UpdateAutostart(QStringLiteral("Pagorama"), exe, false);
    EXPECT_EQ(readValue(RegistryHive::LocalMachine, RunKey, QStringLiteral("Pagorama")),
              std::nullopt);
    EXPECT_FALSE(QFile::exists(platform::autostartFilePath()));
    // Deleting a value that was never written is no failure either.
    EXPECT_NO_THROW(app::UpdateAutostart(QStringLiteral("Pagorama"), exe, false));

    // A store that cannot be saved is ignored silently (the store itself
    // reports once that it cannot be read).
    platform::ScopedMessageRecorder storeMessage;
    QFile::remove(platform::registryFilePath());
    home.write(QStringLiteral(".config/pagorama/registry.reg/blocked"), "");
    EXPECT_NO_THROW(app::UpdateAutostart(QStringLiteral("Pagorama"), exe, true));
}

TEST_F(BrowserIntegration, ReadRegDefault) {
    const app::RegistryText type = app::ReadRegDefault(RegistryHive::ClassesRoot, ".htm");
    EXPECT_EQ(type.result, regerror::Success);
    EXPECT_EQ(type.text, "htmlfile");

    const app::RegistryText missing = app::ReadRegDefault(RegistryHive::ClassesRoot, "nokind");
    EXPECT_EQ(missing.result, regerror::NotFound);
    EXPECT_TRUE(missing.text.isEmpty());

    // A key without a default text value.
    writeValue(RegistryHive::ClassesRoot, "kind", "named", "x");
    EXPECT_EQ(app::ReadRegDefault(RegistryHive::ClassesRoot, "kind").result, regerror::NotFound);
}

TEST_F(BrowserIntegration, NoBrowserKeyNoTakeover) {
    EXPECT_EQ(takeOver("80"), app::StartPageTakeover::NoBrowserKey);
    EXPECT_FALSE(platform::registryKeyExists(RegistryHive::CurrentUser, MainKey));
    EXPECT_FALSE(QFile::exists(keptFile()));
    EXPECT_EQ(marks, 0);
}

TEST_F(BrowserIntegration, ForeignStartPageIsKeptThenReplaced) {
    writeValue(RegistryHive::CurrentUser, MainKey, "Start Page", "http://Example.org/Home");
    EXPECT_EQ(takeOver("8080"), app::StartPageTakeover::TakenOver);
    EXPECT_EQ(kept(), "[InternetShortcut]\r\nURL=http://Example.org/Home\r\n");
    EXPECT_EQ(marks, 1);
    EXPECT_EQ(startPage(), "http://localhost:8080/");

    // The program's own address in any letter case is left alone.
    writeValue(RegistryHive::CurrentUser, MainKey, "Start Page", "HTTP://LocalHost:8080/");
    EXPECT_EQ(takeOver("8080"), app::StartPageTakeover::AlreadyProgram);
    EXPECT_EQ(startPage(), "HTTP://LocalHost:8080/");
    EXPECT_EQ(marks, 1);

    // Without its final slash it is a foreign page.
    writeValue(RegistryHive::CurrentUser, MainKey, "Start Page", "http://localhost:8080");
    EXPECT_EQ(takeOver("8080"), app::StartPageTakeover::TakenOver);
    EXPECT_EQ(kept(), "[InternetShortcut]\r\nURL=http://localhost:8080\r\n");
}

TEST_F(BrowserIntegration, MissingStartPageValueIsKeptAsEmpty) {
    writeValue(RegistryHive::CurrentUser, MainKey, "Other", "x");
    EXPECT_EQ(takeOver("80"), app::StartPageTakeover::TakenOver);
    EXPECT_EQ(kept(), "[InternetShortcut]\r\nURL=\r\n");
    EXPECT_EQ(startPage(), "http://localhost:80/");
}

TEST_F(BrowserIntegration, AfterAPortChangeTheKeptStartPageStays) {
    writeValue(RegistryHive::CurrentUser, MainKey, "Start Page", "http://example.org/");
    ASSERT_EQ(takeOver("80"), app::StartPageTakeover::TakenOver);
    EXPECT_EQ(takeOver("8081"), app::StartPageTakeover::ReplacedOwn);
    EXPECT_EQ(kept(), "[InternetShortcut]\r\nURL=http://example.org/\r\n");
    EXPECT_EQ(startPage(), "http://localhost:8081/");

    // With no kept favourite there is nothing to protect: it is written.
    QFile::remove(keptFile());
    EXPECT_EQ(takeOver("8082"), app::StartPageTakeover::TakenOver);
    EXPECT_EQ(kept(), "[InternetShortcut]\r\nURL=http://localhost:8081/\r\n");
}

TEST_F(BrowserIntegration, FailedWritesAreReportedAndLoseNothing) {
    writeValue(RegistryHive::CurrentUser, MainKey, "Start Page", "http://example.org/");
    // The favourite cannot be written: the start page stays as it was.
    const QString favorites = home.favorites();
    QFile::rename(favorites, favorites + ".moved");
    home.write("Favorites", "a plain file");
    EXPECT_THROW(takeOver("80"), app::IntegrationError);
    EXPECT_EQ(startPage(), "http://example.org/");
    QFile::remove(favorites);
    QFile::rename(favorites + ".moved", favorites);

    // The start page cannot be written: the old one is kept as a favourite.
    QFile store(platform::registryFilePath());
    ASSERT_TRUE(store.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    EXPECT_THROW(takeOver("80"), app::IntegrationError);
    EXPECT_EQ(kept(), "[InternetShortcut]\r\nURL=http://example.org/\r\n");
    store.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(startPage(), "http://example.org/");
}

TEST_F(BrowserIntegration, BrowserCommandLines) {
    const QString address = QStringLiteral("file:///home/a b/it's \"here\".html");
    using Words = std::optional<QStringList>;
    EXPECT_EQ(app::BrowserLaunchWords("xdg-open \"%1\"", address), Words({"xdg-open", address}));
    EXPECT_EQ(app::BrowserLaunchWords("browser %1 --new-tab", address),
              Words({"browser", address}));
    // Without a placeholder the whole line is used.
    EXPECT_EQ(app::BrowserLaunchWords("'/opt/My Browser/run' -private", address),
              Words({"/opt/My Browser/run", "-private", address}));
    EXPECT_EQ(app::BrowserLaunchWords("  \"%1\"", address), std::nullopt);
    EXPECT_EQ(app::BrowserLaunchWords("browser 'open", address), std::nullopt);

    EXPECT_EQ(app::SplitCommandLine(R"(a 'b  c' "d \"e\" \\f \g $" h\ i '' x"y"z)"),
              Words({"a", "b  c", R"(d "e" \f \g $)", "h i", "", "xyz"}));
    EXPECT_EQ(app::SplitCommandLine("a \"b"), std::nullopt);
}

TEST_F(BrowserIntegration, DefaultBrowserIsStartedWithTheAddress) {
    const QString out = home.path() + QStringLiteral("/opened.txt");
    // A browser of its own file type.
    writeValue(RegistryHive::ClassesRoot, ".htm", "", "testpage");
    writeValue(RegistryHive::ClassesRoot, "testpage\\shell\\open\\command", "",
               recordingBrowser(out));
    const QString address = QStringLiteral("file:///tmp/a b/it's.html");
    app::OpenInDefaultBrowser(address);
    EXPECT_EQ(waitForText(out), address);

    // A browser that cannot be started is an error with its fixed text.
    writeValue(RegistryHive::ClassesRoot, "testpage\\shell\\open\\command", "",
               "/nonexistent/browser \"%1\"");
    try {
        app::OpenInDefaultBrowser(address);
        ADD_FAILURE() << "no error";
    } catch (const app::IntegrationError& error) {
        EXPECT_STREQ(error.what(), "Couldn't launch default browser");
    }

    // A file type without an open command: nothing happens.
    writeValue(RegistryHive::ClassesRoot, ".htm", "", "nocommand");
    EXPECT_NO_THROW(app::OpenInDefaultBrowser(address));
}

TEST_F(BrowserIntegration, TheProgramTakesOverAtStartAndOpensInstructions) {
    testsupport::programApplication();
    platform::ScopedMessageRecorder messages;
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(probe.serverPort());
    probe.close();
    home.write(".config/pagorama/pagorama.ini",
               "[Data]\nPort=" + port.toUtf8() + "\n[General]\nStartup=0\n");
    writeValue(RegistryHive::CurrentUser, MainKey, "Start Page", "http://example.org/");

    auto core = std::make_unique<app::ProgramCore>(app::ProgramCore::Options{});
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(startPage(), "http://localhost:" + port + "/");
    EXPECT_EQ(kept(), "[InternetShortcut]\r\nURL=http://example.org/\r\n");
    // Writing the favourite starts no refresh through the folder monitor.
    EXPECT_TRUE(core->OwnFavouriteChanges.isOwn(keptFile()));
    core->FolderMonitor1->processPending();
    EXPECT_FALSE(core->Run().favouritesChanged());

    setBrowserCommand("/nonexistent/browser \"%1\"");
    core->Instructions1Click();
    EXPECT_TRUE(messages.texts.contains("Couldn't launch default browser"))
        << messages.texts.join('|').toStdString();

    const QString out = home.path() + QStringLiteral("/opened.txt");
    setBrowserCommand(recordingBrowser(out));
    core->Instructions1Click();
    const QString opened = waitForText(out);
    EXPECT_TRUE(opened.startsWith("file:///")) << opened.toStdString();
    EXPECT_EQ(opened, app::productPageUrl().toString(QUrl::FullyEncoded));
    core.reset();
}

} // namespace
