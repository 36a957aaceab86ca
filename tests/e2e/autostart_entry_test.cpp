// The autostart entry that the whole program writes as it ends names the
// binary that runs by its absolute path, quoted for a folder with a blank,
// whatever path it was started by, and also after an upgrade replaced that
// file while the program ran.
#include "program_command.h"
#include "program_run.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using testsupport::TempHome;

TEST(AutostartEntry, NamesTheInstalledBinaryAlsoAfterAnUpgradeReplacedIt) {
    TempHome home;
    home.write(".config/pagorama/pagorama.ini",
               "[Data]\r\nPort=" + QByteArray::number(e2e::freePort()) +
                   "\r\n[General]\r\nStartup=0\r\nHistory=0\r\nAutoStart=1\r\n");
    const QString folder = home.path() + "/my programs";
    const QString installed = folder + "/pagorama";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::copy(PAGORAMA_BINARY_DIR "/pagorama", installed));

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(variable);
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(folder);
    program.start("sh", {"-c", "exec ./pagorama"}); // started by a relative path
    ASSERT_TRUE(e2e::ProgramRun::waitUntil(
        [&] { return e2e::runPagoramaCommand(home, {"--status"}).exitCode == 0; }, 30000))
        << program.readAllStandardError().constData();

    ASSERT_TRUE(QFile::remove(installed));
    home.write("my programs/pagorama", "the next version");
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().constData();
    const QByteArray entry = home.read(".config/autostart/pagorama.desktop");
    EXPECT_TRUE(entry.contains("\nExec=\"" + QFile::encodeName(installed) + "\"\n"))
        << entry.constData();
}
