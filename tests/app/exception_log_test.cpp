// The exception log: filters, the entry's lines, newest entry on top, and
// the raise notices of real throws (this test program interposes the
// runtime's throw the way the executable does).
#include "app/exception_log.h"
#include "app/throw_hook.h"
#include "catalogue/site_http_client.h"
#include "platform/message_service.h"
#include "support/program_fixture.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

PAGORAMA_DEFINE_THROW_HOOK()

namespace {

// std::exception is not the first base: its part lies away from the object's start.
struct Tagged {
    virtual ~Tagged() = default;
    long tag = 7;
};
struct TaggedFailure : Tagged, std::logic_error {
    TaggedFailure() : std::logic_error("tagged failure") {}
};
// A catch (std::exception&) would not take this one.
struct HiddenFailure : private std::runtime_error {
    HiddenFailure() : std::runtime_error("hidden") {}
};

QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[^\r]\n"))))
        << "lines end in CR LF";
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

int entryCount(const QStringList& lines) {
    return int(lines.filter(QStringLiteral(" Exception ")).size());
}

class ExceptionLog : public ::testing::Test {
protected:
    void SetUp() override { logger.LogFileName = home.path() + QStringLiteral("/errors.txt"); }
    // The file as it is once the entries reported so far are written.
    QStringList lines() {
        logger.flush();
        return fileLines(logger.LogFileName);
    }

    testsupport::TempHome home;
    app::ExceptionLogger logger;
};

app::ExceptionRecord record(const QString& className, std::optional<QString> message) {
    app::ExceptionRecord r;
    r.className = className;
    r.message = std::move(message);
    r.raiseAddress = reinterpret_cast<const void*>(quintptr(0xdeadbeef));
    r.stack = QStringList{QStringLiteral("frame one"), QStringLiteral("frame two")};
    return r;
}

TEST_F(ExceptionLog, IgnoreListsAndEmptyMessagesProduceNoEntry) {
    logger.report(
        record(QStringLiteral("app::Error"), QStringLiteral("[10061] Connection refused")));
    logger.report(record(QStringLiteral("app::Error"), QStringLiteral("Operation timed out")));
    logger.report(record(QStringLiteral("ESocketError"), QStringLiteral("anything at all")));
    logger.report(record(QStringLiteral("ETimedOutError"), std::nullopt));
    logger.report(record(QStringLiteral("app::Error"), QString()));
    logger.flush();
    EXPECT_FALSE(QFile::exists(logger.LogFileName));

    // An object without any message is logged; only the empty message is ignored.
    logger.report(record(QStringLiteral("int"), std::nullopt));
    EXPECT_EQ(entryCount(lines()), 1);
}

TEST_F(ExceptionLog, EntryLinesAndUnresolvedPlace) {
    const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
    const QStringList entry =
        logger.composeEntry(record(QStringLiteral("EConvertError"), QStringLiteral("bad")), when);
    const QLocale locale = QLocale::system();
    const QString address = QString(int(sizeof(void*) * 2) - 8, QLatin1Char('0')) + "DEADBEEF";
    EXPECT_EQ(entry, (QStringList{locale.toString(when.date(), QLocale::ShortFormat) + " " +
                                      locale.toString(when.time(), QLocale::LongFormat) +
                                      " Exception EConvertError occured at address " + address,
                                  "Message: bad", "Call stack: ", "frame one", "frame two"}));

    logger.StackTrackingEnable = false;
    const QStringList bare = logger.composeEntry(record(QStringLiteral("int"), std::nullopt), when);
    ASSERT_EQ(bare.size(), 1);
    EXPECT_TRUE(bare[0].endsWith(" Exception int occured at address " + address));
}

TEST_F(ExceptionLog, NewestEntryOnTopTwoEmptyLinesBetween) {
    QStringList seen;
    logger.OnOtherDestination = [&seen](const QStringList& entry) { seen << entry.first(); };
    logger.report(record(QStringLiteral("First"), QStringLiteral("one")));
    logger.report(record(QStringLiteral("Second"), QStringLiteral("two")));

    const QStringList all = lines();
    ASSERT_EQ(all.size(), 12);
    EXPECT_TRUE(all[0].contains(" Exception Second occured "));
    EXPECT_EQ(all[1], "Message: two");
    EXPECT_EQ(all[4], "frame two");
    EXPECT_EQ(all[5], "");
    EXPECT_EQ(all[6], "");
    EXPECT_TRUE(all[7].contains(" Exception First occured "));
    EXPECT_EQ(all[8], "Message: one");
    EXPECT_EQ(seen.size(), 2);

    // Without append mode the newest entry is the whole file.
    logger.AppendLogFile = false;
    logger.report(record(QStringLiteral("Third"), QStringLiteral("three")));
    EXPECT_EQ(entryCount(lines()), 1);
}

TEST_F(ExceptionLog, AFileThatCannotBeReadOrWrittenIsLeftAlone) {
    // An old log that cannot be read is not replaced by the new entry alone.
    ASSERT_TRUE(QDir().mkpath(logger.LogFileName));
    EXPECT_FALSE(logger.writeEntry({QStringLiteral("entry")}));
    EXPECT_TRUE(QFileInfo(logger.LogFileName).isDir());

    // A log in a folder that cannot exist: the report still returns normally.
    const QString blocker = home.path() + QStringLiteral("/plain");
    home.write(QStringLiteral("plain"), "x");
    logger.LogFileName = blocker + QStringLiteral("/errors.txt");
    EXPECT_NO_THROW(logger.report(record(QStringLiteral("Error"), QStringLiteral("lost"))));
    logger.flush();
    EXPECT_FALSE(QFile::exists(logger.LogFileName));
}

TEST_F(ExceptionLog, ABurstKeepsTheNewestMegabyteNewestFirst) {
    // An older log already past the limit: only its newest entries may stay.
    QByteArray old;
    for (int i = 0; old.size() < 3 * app::ExceptionLogger::SizeLimit; ++i)
        old += "01/01/2020 Exception Old occured at address 0\r\nMessage: old " +
               QByteArray::number(i) + "\r\nCall stack: \r\n\r\n\r\n";
    home.write(QStringLiteral("errors.txt"), old);

    logger.report(record(QStringLiteral("Single"), QStringLiteral("first")));
    QStringList all = lines();
    EXPECT_LE(QFileInfo(logger.LogFileName).size(), app::ExceptionLogger::SizeLimit);
    ASSERT_GT(all.size(), 12);
    EXPECT_EQ(all[1], "Message: first");
    EXPECT_EQ(all.mid(5, 2), (QStringList{"", ""}));
    EXPECT_EQ(all[8], "Message: old 0");
    EXPECT_EQ(all.last(), "Call stack: ") << "cut after a whole entry";

    // A burst of entries much larger than the limit.
    const QString filler(1000, QLatin1Char('m'));
    constexpr int Burst = 3000;
    for (int i = 0; i < Burst; ++i)
        logger.report(record(QStringLiteral("Burst"), QStringLiteral("%1 ").arg(i) + filler));
    all = lines();
    EXPECT_LE(QFileInfo(logger.LogFileName).size(), app::ExceptionLogger::SizeLimit);
    const QStringList messages = all.filter(QStringLiteral("Message: "));
    ASSERT_GT(messages.size(), 500);
    for (int i = 0; i < messages.size(); ++i)
        ASSERT_EQ(messages[i], QStringLiteral("Message: %1 ").arg(Burst - 1 - i) + filler);
    EXPECT_EQ(all.last(), "frame two") << "cut after a whole entry";
}

TEST_F(ExceptionLog, LongLinesAreCutAndStopWritesWhatIsWaiting) {
    logger.report(record(QStringLiteral("Long"), QString(100000, QLatin1Char('w'))));
    logger.stop();
    const QStringList all = fileLines(logger.LogFileName);
    ASSERT_GE(all.size(), 2);
    EXPECT_EQ(all[1], "Message: " + QString(app::ExceptionLogger::LoggedLineLimit - 9, 'w') +
                          "... (100009 characters)");
}

class RaisedExceptions : public ExceptionLog {
protected:
    void SetUp() override {
        ExceptionLog::SetUp();
        logger.start();
    }
    void TearDown() override { logger.stop(); }
};

TEST_F(RaisedExceptions, CaughtThrowsAreLoggedAndGoOnUnchanged) {
    const void* raisedFrom = nullptr;
    try {
        throw std::runtime_error("boom");
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "boom");
    }
    ASSERT_TRUE(app::throwsInterposed());
    QStringList all = lines();
    ASSERT_EQ(entryCount(all), 1);
    EXPECT_TRUE(all[0].contains(" Exception std::runtime_error occured at address "));
    EXPECT_EQ(all[1], "Message: boom");
    EXPECT_EQ(all[2], "Call stack: ");
    ASSERT_GT(all.size(), 3);
    // The stack starts at the raise point, not in the logging code.
    bool ok = false;
    raisedFrom =
        reinterpret_cast<const void*>(all[0].section(QLatin1Char(' '), -1).toULongLong(&ok, 16));
    ASSERT_TRUE(ok);
    EXPECT_EQ(all[3].section(QLatin1Char(' '), 0, 0).toULongLong(&ok, 16), quintptr(raisedFrom));

    // The message of a std::exception that is not the object's first base,
    // and none for objects that are not std::exceptions.
    try {
        throw TaggedFailure();
    } catch (const TaggedFailure& error) {
        EXPECT_EQ(error.tag, 7);
    }
    try {
        throw 42;
    } catch (int value) {
        EXPECT_EQ(value, 42);
    }
    try {
        throw HiddenFailure();
    } catch (const HiddenFailure&) {
    }
    all = lines();
    ASSERT_EQ(entryCount(all), 4);
    EXPECT_TRUE(all[0].contains(" Exception (anonymous namespace)::HiddenFailure occured "));
    EXPECT_EQ(all[1], "Call stack: ");
    const qsizetype intEntry = all.indexOf(QRegularExpression(".* Exception int occured .*"));
    ASSERT_GE(intEntry, 0);
    EXPECT_EQ(all[intEntry + 1], "Call stack: ");
    const qsizetype tagged =
        all.indexOf(QRegularExpression(".* Exception .*TaggedFailure occured .*"));
    ASSERT_GE(tagged, 0);
    EXPECT_EQ(all[tagged + 1], "Message: tagged failure");
}

TEST_F(RaisedExceptions, IgnoredThrowsAndStoppedLoggerLeaveNoFile) {
    try {
        throw ESocketError(QStringLiteral("Winsock error no 111")); // the site client's class
    } catch (const std::exception&) {
    }
    try {
        throw std::runtime_error("[11001] Host not found");
    } catch (const std::exception&) {
    }
    logger.stop();
    try {
        throw std::runtime_error("after stop");
    } catch (const std::exception&) {
    }
    EXPECT_FALSE(QFile::exists(logger.LogFileName));
}

TEST_F(RaisedExceptions, AThrowInsideTheLoggerIsNotLoggedAndChangesNothing) {
    int calls = 0;
    logger.OnOtherDestination = [&calls](const QStringList&) {
        ++calls;
        throw std::runtime_error("destination failed");
    };
    try {
        throw std::out_of_range("outer");
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "outer");
    }
    EXPECT_EQ(calls, 1);
    const QStringList all = lines();
    EXPECT_EQ(entryCount(all), 1);
    EXPECT_EQ(all[1], "Message: outer");
}

TEST_F(RaisedExceptions, ThrowsOnSeveralThreadsAllReachTheFile) {
    logger.StackTrackingEnable = false;
    constexpr int PerThread = 15;
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < PerThread; ++i) {
                try {
                    throw std::runtime_error("thread " + std::to_string(t));
                } catch (const std::exception&) {
                }
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    const QStringList all = lines();
    EXPECT_EQ(entryCount(all), 3 * PerThread);
    for (int t = 0; t < 3; ++t)
        EXPECT_EQ(all.count(QStringLiteral("Message: thread %1").arg(t)), PerThread);
}

class Thrower : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            throw std::runtime_error("handler failed");
        return QObject::event(event);
    }
};

TEST_F(RaisedExceptions, AnExceptionThatEscapesAHandlerIsShownAndLoggedOnce) {
    testsupport::programApplication();
    platform::ScopedMessageRecorder boxes;
    Thrower target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes.texts, QStringList{"handler failed"});
    EXPECT_EQ(entryCount(lines()), 1);

    // Logging only what reaches the top-level handler: the caught one is
    // not logged, the escaped one is, once.
    logger.UnhandledExceptionsOnly = true;
    try {
        throw std::runtime_error("caught in place");
    } catch (const std::exception&) {
    }
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    const QStringList all = lines();
    EXPECT_EQ(entryCount(all), 2);
    EXPECT_EQ(all.count("Message: handler failed"), 2);
    EXPECT_EQ(all.count("Message: caught in place"), 0);
}

} // namespace

// The site probe's client as the program runs it, with the logger's own
// lists: a dead favourite (refused, unknown host, time-out) and a request
// the program gives up leave no entry, while the client's unexpected
// failures are written.
TEST_F(RaisedExceptions, SiteClientLogsAllButSocketFailuresAndTimeOuts) {
    testsupport::TestSite site;
    QString gone;
    {
        testsupport::TestSite closed;
        gone = closed.url("/");
    }
    catalogue::TSiteHttpClient client;
    client.setTimeoutMs(300);
    const auto failure = [&client](const QString& url) {
        try {
            client.get(url);
        } catch (const catalogue::HttpClientError& error) {
            return error.kind();
        }
        return catalogue::HttpErrorKind::Client;
    };
    EXPECT_EQ(failure(gone), catalogue::HttpErrorKind::Other);
    EXPECT_EQ(failure(site.url("/stall")), catalogue::HttpErrorKind::TimedOut);
    EXPECT_FALSE(QFile::exists(logger.LogFileName)) << qPrintable(lines().join('\n'));

    EXPECT_EQ(failure(site.url("/bad-chunk")), catalogue::HttpErrorKind::Transfer);
    client.cancel();
    EXPECT_EQ(failure(site.url("/title")), catalogue::HttpErrorKind::Canceled);
    const QStringList all = lines();
    ASSERT_EQ(entryCount(all), 1);
    EXPECT_TRUE(all.contains("Message: Error receiving the stream"));
}
