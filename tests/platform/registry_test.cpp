#include "platform/autostart.h"
#include "platform/message_service.h"
#include "platform/offline.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/registry_text.h"
#include "support/temp_home.h"

#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

using namespace platform;
using testsupport::TempHome;

namespace {

const QString menuOrder =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites\\News";
const QString runKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes the store file anew (new inode), so the next access parses it again.
void rewriteStore(const QByteArray& text) {
    QFile::remove(registryFilePath());
    QFile f(registryFilePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

} // namespace

TEST(Registry, BinaryValueSurvivesTheStoreFile) {
    TempHome home;
    QByteArray order;
    for (int i = 0; i < 300; ++i)
        order.append(char(i & 0xff));
    {
        RegistryKey key;
        ASSERT_EQ(key.open(RegistryHive::CurrentUser, menuOrder, true), regerror::Success);
        ASSERT_EQ(key.writeBinary("Order", order), regerror::Success);
    }
    const QByteArray text = readFile(registryFilePath());
    EXPECT_TRUE(text.startsWith("REGEDIT4\r\n"));
    EXPECT_TRUE(text.contains("[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion"
                              "\\Explorer\\MenuOrder\\Favorites\\News]\r\n\"Order\"=hex:00,01,02"));
    rewriteStore(text);

    RegistryKey key;
    // Key and value names are matched without regard to case.
    ASSERT_EQ(key.open(RegistryHive::CurrentUser, menuOrder.toUpper(), false), regerror::Success);
    EXPECT_EQ(key.valueType("ORDER"), RegistryValueType::Binary);
    EXPECT_EQ(key.valueSize("order"), 300);
    EXPECT_EQ(key.readBinary("Order"), order);
}

TEST(Registry, HandWrittenStoreParses) {
    regtext::Store store;
    int line = 0;
    QString reason;
    const QByteArray text = "REGEDIT4\n\n; a comment\n"
                            "[HKEY_CURRENT_USER\\Software\\Test]\n"
                            "@=\"default \\\"quoted\\\" C:\\\\dir\"\n"
                            "\"Count\"=dword:0000000a\n"
                            "\"Long\"=hex:01,02,\\\n  03,ff\n"
                            "\"Expand\"=hex(2):41,00\n";
    ASSERT_TRUE(regtext::parse(text, &store, &line, &reason)) << line << reason.toStdString();
    const regtext::Key* key = store.hives[0].find({"software", "TEST"});
    ASSERT_NE(key, nullptr);
    ASSERT_NE(key->value(""), nullptr);
    EXPECT_EQ(key->value("")->text, "default \"quoted\" C:\\dir");
    EXPECT_EQ(key->value("count")->dword, 10u);
    EXPECT_EQ(key->value("Long")->bytes, QByteArray("\x01\x02\x03\xff", 4));
    EXPECT_EQ(key->value("Expand")->hexType, 2);

    // Writing and reading again gives the same tree.
    regtext::Store again;
    ASSERT_TRUE(regtext::parse(regtext::serialize(store), &again, &line, &reason));
    EXPECT_EQ(regtext::serialize(again), regtext::serialize(store));
    EXPECT_TRUE(regtext::serialize(store).contains("\"Count\"=dword:0000000a\r\n"));
    EXPECT_TRUE(regtext::serialize(store).contains("\"Expand\"=hex(2):41,00\r\n"));

    for (const char* bad :
         {"[HKEY_CURRENT_USER\\x]\n\"a\"=1\n", "REGEDIT4\n\"a\"=\"b\"\n",
          "REGEDIT4\n[HKEY_NOWHERE\\x]\n", "REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"a\"=hex:zz\n"}) {
        regtext::Store s;
        EXPECT_FALSE(regtext::parse(bad, &s, &line, &reason)) << bad;
    }
}

TEST(Registry, OpenWithoutCreateFailsOnMissingKey) {
    TempHome home;
    RegistryKey key;
    EXPECT_EQ(
        key.open(RegistryHive::CurrentUser, "Software\\Microsoft\\Internet Explorer\\Main", false),
        regerror::NotFound);
    EXPECT_FALSE(key.isOpen());
    EXPECT_FALSE(registryKeyExists(RegistryHive::CurrentUser, "Software"));
    // Nothing was written by the failed open.
    EXPECT_FALSE(QFile::exists(registryFilePath()));

    ASSERT_EQ(key.open(RegistryHive::CurrentUser, "Software\\A\\B", true), regerror::Success);
    EXPECT_TRUE(registryKeyExists(RegistryHive::CurrentUser, "software\\a"));
    EXPECT_FALSE(registryKeyExists(RegistryHive::LocalMachine, "Software\\A"));
    EXPECT_EQ(key.readString("missing"), std::nullopt);
    EXPECT_EQ(key.valueSize("missing"), -1);
    EXPECT_EQ(key.deleteValue("missing"), regerror::NotFound);

    ASSERT_EQ(key.writeString("Start Page", "http://example.invalid/"), regerror::Success);
    ASSERT_EQ(key.writeString("START PAGE", "http://localhost:80/"), regerror::Success);
    EXPECT_EQ(key.valueNames(), QStringList{"Start Page"});
    EXPECT_EQ(key.valueSize("Start Page"), 21);
    EXPECT_EQ(key.readString("start page"), "http://localhost:80/");

    // Names the store file could not hold are refused, and the store stays readable.
    EXPECT_EQ(key.open(RegistryHive::CurrentUser, "Software\\A\\two\nlines", true),
              regerror::InvalidName);
    ASSERT_EQ(key.open(RegistryHive::CurrentUser, "Software\\A\\B", false), regerror::Success);
    ASSERT_EQ(key.writeString("value\nname", "text\r\nmore"), regerror::Success);
    rewriteStore(readFile(registryFilePath()));
    EXPECT_EQ(key.readString("VALUE\nNAME"), "text\r\nmore");

    // A key deleted while open refuses further changes.
    EXPECT_EQ(deleteRegistryKey(RegistryHive::CurrentUser, "Software\\A"), regerror::Success);
    EXPECT_FALSE(registryKeyExists(RegistryHive::CurrentUser, "Software\\A\\B"));
    EXPECT_EQ(key.writeString("x", "y"), regerror::KeyDeleted);
    EXPECT_EQ(deleteRegistryKey(RegistryHive::CurrentUser, "Software\\A"), regerror::NotFound);
}

TEST(Registry, DamagedStoreIsReportedOnceAndLeftAlone) {
    TempHome home;
    ScopedMessageRecorder recorder;
    const QByteArray damaged =
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software]\r\n\"Start\"=nonsense\r\n";
    rewriteStore(damaged);

    RegistryKey key;
    EXPECT_EQ(key.open(RegistryHive::CurrentUser, "Software", false), regerror::NotFound);
    EXPECT_EQ(key.open(RegistryHive::CurrentUser, "Software", true), regerror::BadStore);
    EXPECT_TRUE(key.lastErrorText().contains(registryFilePath()));
    ASSERT_EQ(key.open(RegistryHive::CurrentUser, "", false), regerror::Success);
    EXPECT_EQ(key.writeDword("x", 1), regerror::BadStore);
    EXPECT_FALSE(key.lastErrorText().isEmpty());
    EXPECT_EQ(deleteRegistryKey(RegistryHive::CurrentUser, "Software"), regerror::BadStore);
    // Built-in answers still work.
    ASSERT_EQ(key.open(RegistryHive::ClassesRoot, ".htm", false), regerror::Success);
    EXPECT_EQ(key.readString(""), "htmlfile");

    ASSERT_EQ(recorder.texts.size(), 1);
    EXPECT_TRUE(recorder.texts[0].contains(registryFilePath()));
    EXPECT_TRUE(recorder.texts[0].contains("line 3"));
    EXPECT_EQ(readFile(registryFilePath()), damaged);
}

TEST(Registry, ClassesRootDefaultsUnlessStoreHasItsOwn) {
    TempHome home;
    RegistryKey key;
    ASSERT_EQ(key.open(RegistryHive::ClassesRoot, ".htm", false), regerror::Success);
    EXPECT_EQ(key.readString(""), "htmlfile");
    ASSERT_EQ(key.open(RegistryHive::ClassesRoot, "HTMLFILE\\shell\\open\\command", false),
              regerror::Success);
    EXPECT_EQ(key.readString(""), "xdg-open \"%1\"");
    EXPECT_EQ(key.valueNames(), QStringList{""});
    ASSERT_EQ(key.open(RegistryHive::ClassesRoot, "htmlfile", false), regerror::Success);
    EXPECT_EQ(key.subKeyNames(), QStringList{"shell"});
    EXPECT_EQ(key.readString(""), std::nullopt);
    EXPECT_EQ(key.open(RegistryHive::ClassesRoot, ".html", false), regerror::NotFound);

    ASSERT_EQ(key.open(RegistryHive::ClassesRoot, ".htm", false), regerror::Success);
    ASSERT_EQ(key.writeString("", "otherfile"), regerror::Success);
    EXPECT_EQ(key.readString(""), "otherfile");
    ASSERT_EQ(key.deleteValue(""), regerror::Success);
    EXPECT_EQ(key.readString(""), "htmlfile");
}

TEST(Registry, RunValueMirroredToAutostartEntry) {
    TempHome home;
    const QString entry = home.path() + "/.config/autostart/pagorama.desktop";
    EXPECT_EQ(autostartFilePath(), entry);

    RegistryKey key;
    ASSERT_EQ(key.open(RegistryHive::LocalMachine, runKey, true), regerror::Success);
    ASSERT_EQ(key.writeString("Pagorama", "/opt/my apps/pagorama"), regerror::Success);
    const QByteArray text = readFile(entry);
    EXPECT_TRUE(text.contains("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nExec=\"/opt/my apps/pagorama\"\n")) << text.constData();

    // Other values of the Run key do not touch the entry.
    ASSERT_EQ(key.writeString("Other", "/bin/true"), regerror::Success);
    ASSERT_EQ(key.deleteValue("Other"), regerror::Success);
    EXPECT_TRUE(QFile::exists(entry));

    ASSERT_EQ(key.deleteValue("PAGORAMA"), regerror::Success);
    EXPECT_FALSE(QFile::exists(entry));

    // Deleting a value that was never written still removes a stale entry.
    ASSERT_TRUE(writeAutostartEntry("/stale/pagorama"));
    EXPECT_EQ(key.deleteValue("Pagorama"), regerror::NotFound);
    EXPECT_FALSE(QFile::exists(entry));

    ASSERT_EQ(key.writeString("Pagorama", "/usr/bin/pagorama"), regerror::Success);
    ASSERT_EQ(deleteRegistryKey(RegistryHive::LocalMachine, "Software\\Microsoft"),
              regerror::Success);
    EXPECT_FALSE(QFile::exists(entry));
}

TEST(Registry, AutostartExecLineEscapesReservedCharacters) {
    TempHome home;
    ASSERT_TRUE(writeAutostartEntry("/home/a\"b/$x\\y%z"));
    EXPECT_TRUE(
        readFile(autostartFilePath()).contains("\nExec=\"/home/a\\\\\"b/\\\\$x\\\\\\\\y%%z\"\n"));
}

TEST(Registry, OfflineFollowsGlobalUserOffline) {
    TempHome home;
    EXPECT_FALSE(isOffline());
    RegistryKey key;
    ASSERT_EQ(key.open(RegistryHive::CurrentUser,
                       "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", true),
              regerror::Success);
    EXPECT_FALSE(isOffline());
    ASSERT_EQ(key.writeDword("GlobalUserOffline", 1), regerror::Success);
    EXPECT_TRUE(isOffline());
    ASSERT_EQ(key.writeDword("GlobalUserOffline", 0), regerror::Success);
    EXPECT_FALSE(isOffline());
    ASSERT_EQ(key.writeString("globaluseroffline", "1"), regerror::Success);
    EXPECT_TRUE(isOffline());
    ASSERT_EQ(key.writeString("GlobalUserOffline", "0"), regerror::Success);
    EXPECT_FALSE(isOffline());
}

TEST(Registry, ConcurrentWritersLoseNothing) {
    TempHome home;
    auto writer = [](const QString& prefix) {
        RegistryKey key;
        key.open(RegistryHive::CurrentUser, "Software\\Concurrent", true);
        for (int i = 0; i < 20; ++i)
            key.writeDword(prefix + QString::number(i), quint32(i));
    };
    QThread* a = QThread::create(writer, QStringLiteral("a"));
    QThread* b = QThread::create(writer, QStringLiteral("b"));
    a->start();
    b->start();
    a->wait();
    b->wait();
    delete a;
    delete b;
    RegistryKey key;
    ASSERT_EQ(key.open(RegistryHive::CurrentUser, "Software\\Concurrent", false),
              regerror::Success);
    EXPECT_EQ(key.valueNames().size(), 40);
    EXPECT_EQ(key.readDword("b19"), 19u);
}
