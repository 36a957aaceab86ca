#include "catalogue/run_trace.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

TEST(RunTrace, FileHoldsTheRunInProgressAndStartsAfreshAfterClear) {
    testsupport::TempHome home;
    home.write("files.log", "trace of an older program\r\n");
    catalogue::RunTrace trace(home.path() + "/files.log");

    trace.add({"Path = /a/", "File = x.url"});
    EXPECT_EQ(home.read("files.log"), "Path = /a/\r\nFile = x.url\r\n");
    trace.add({"total = 9"});
    trace.add({"picture_path = /d/"});
    EXPECT_EQ(home.read("files.log"),
              "Path = /a/\r\nFile = x.url\r\ntotal = 9\r\npicture_path = /d/\r\n");
    EXPECT_EQ(trace.lines().size(), 4);

    // The next run replaces the last run's trace.
    trace.clear();
    trace.add({"Path = /b/"});
    EXPECT_EQ(home.read("files.log"), "Path = /b/\r\n");

    // A trace that cannot be written keeps its lines and never throws.
    home.write("blocker", "x");
    catalogue::RunTrace nowhere(home.path() + "/blocker/files.log");
    nowhere.add({"one"});
    nowhere.add({"two"});
    EXPECT_EQ(nowhere.lines(), (QStringList{"one", "two"}));
}
