// The whole program started with a registry store of many keys, as years of
// folder orders leave it: it serves its pages promptly, and the keys it was
// given are all still in the store when it ends.
#include "program_run.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using e2e::ProgramRun;
using testsupport::TempHome;

namespace {

constexpr int Keys = 50000;
const QByteArray orderKey = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion"
                            "\\Explorer\\MenuOrder\\Favorites";

QByteArray storeOfManyKeys() {
    QByteArray text = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < Keys; ++i) {
        // Letter case as another program may have written it.
        text += "[" + (i % 2 ? orderKey.toUpper() : orderKey) + "\\Folder " +
                QByteArray::number(i) +
                "]\r\n\"Order\"=hex:08,00,00,00,02,00,00,00\r\n"
                "\"Note\"=\"folder " +
                QByteArray::number(i) + "\"\r\n\r\n";
    }
    return text;
}

bool serverAnswers(quint16 port) {
    return !testsupport::fetch(port, "HEAD / HTTP/1.0\r\n\r\n").statusLine.isEmpty();
}

} // namespace

TEST(ProgramRegistry, ManyKeysNeitherDelayTheStartNorGetLost) {
    TempHome home;
    home.favorites();
    home.write(".config/pagorama/registry.reg", storeOfManyKeys());
    const quint16 port = e2e::freePort();
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\n[General]\r\nAutoStart=0\r\n");
    QElapsedTimer clock;
    clock.start();
    program.start();
    // Reading such a store takes well under a second; a reading that grew
    // with the square of its size took most of a minute here.
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return serverAnswers(port); }, 20000))
        << "not serving after " << clock.elapsed() << " ms\n"
        << qPrintable(program.stderrText());
    EXPECT_EQ(program.terminate(), 0);

    const QByteArray after = home.read(".config/pagorama/registry.reg");
    ASSERT_TRUE(after.startsWith("REGEDIT4\r\n"));
    // Every key once, under the letter case it was first written with.
    EXPECT_EQ(after.count("\\MenuOrder\\Favorites\\Folder "), Keys);
    EXPECT_EQ(after.count("\"Order\"=hex:08,00,00,00,02,00,00,00\r\n"), Keys);
    EXPECT_TRUE(after.contains("[" + orderKey + "\\Folder 49998]\r\n"));
    EXPECT_TRUE(after.contains("\"Note\"=\"folder 49999\"\r\n"));
}
