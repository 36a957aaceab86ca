#pragma once
// A THttpServer on 127.0.0.1 with a system-chosen port, serving a temporary
// document folder, for the socket tests of this folder.
#include "support/http_test_client.h"
#include "webserver/http_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace servertest {

class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ensureCoreApplication();
        ASSERT_TRUE(root.isValid());
        docDir = root.path() + "/doc";
        ASSERT_TRUE(QDir().mkpath(docDir));
        server = std::make_unique<webserver::THttpServer>();
        server->docDir = docDir;
        server->defaultDoc = "viewer.htm";
        server->setAddr("127.0.0.1");
        server->setPort("0");
    }
    void TearDown() override {
        server.reset();
        // Let deferred deletions of the closed connections run.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void start() {
        server->startServer();
        port = server->listeningPort();
        ASSERT_NE(port, 0);
    }
    void write(const QString& relative, const QByteArray& contents) {
        const QString path = docDir + "/" + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(contents), contents.size());
    }
    // Sends one request and returns the answer, read until the server closes.
    testsupport::HttpReply get(const QByteArray& request) {
        testsupport::HttpReply reply;
        testsupport::runWithEventLoop([&] { reply = testsupport::fetch(port, request); });
        return reply;
    }
    // Runs the event loop until done() holds (or 10 s pass); returns done().
    static bool processUntil(const std::function<bool()>& done) {
        return testsupport::processUntil(done);
    }

    QTemporaryDir root;
    QString docDir;
    std::unique_ptr<webserver::THttpServer> server;
    quint16 port = 0;
};

} // namespace servertest
