// A bare file server for measurements: serves a folder on 127.0.0.1 with
// the program's HTTP server and nothing else (no logging).
#include "webserver/http_server.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PORT FOLDER\n", argv[0]);
        return 2;
    }
    webserver::THttpServer server;
    server.setAddr(QStringLiteral("127.0.0.1"));
    server.setPort(QString::fromLocal8Bit(argv[1]));
    server.docDir = QString::fromLocal8Bit(argv[2]);
    server.defaultDoc = QStringLiteral("index.html");
    try {
        server.startServer();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("listening on %u\n", unsigned(server.listeningPort()));
    std::fflush(stdout);
    return app.exec();
}
