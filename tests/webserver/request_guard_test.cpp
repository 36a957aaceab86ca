#include "webserver/request_guard.h"

#include <gtest/gtest.h>

using namespace webserver;

namespace {

MachineNames lanMachine() {
    MachineNames names;
    names.addresses << numericAddress("192.168.1.20") << numericAddress("fd00::2")
                    << numericAddress("127.0.0.1");
    names.hostNames << "mybox"
                    << "mybox.local";
    return names;
}

HttpRequest requestWith(const QByteArray& method, const QList<QByteArray>& headers) {
    HttpRequest request;
    parseRequestLine(method + " / HTTP/1.1", request);
    for (const QByteArray& header : headers)
        applyHeaderLine(header, request);
    return request;
}

} // namespace

TEST(HostCheck, LoopbackNamesAlwaysOtherNamesOnlyWhenSharing) {
    int asked = 0;
    const MachineNames machine = lanMachine();
    const MachineNamesSource source = [&]() -> const MachineNames& {
        ++asked;
        return machine;
    };
    for (const QByteArray& host :
         {QByteArray("localhost"), QByteArray("LocalHost:8080"), QByteArray("127.0.0.1"),
          QByteArray("127.0.0.1:80"), QByteArray("127.9.8.7:65535"), QByteArray("[::1]"),
          QByteArray("[::1]:8080"), QByteArray("[::ffff:127.0.0.1]:80"),
          QByteArray(" localhost ")}) {
        EXPECT_TRUE(IsHostOfThisMachine(host, false, source)) << host.constData();
        EXPECT_TRUE(IsHostOfThisMachine(host, true, source)) << host.constData();
    }
    EXPECT_EQ(asked, 0) << "loopback names need no look at the machine";

    const QList<QByteArray> own = {"192.168.1.20", "192.168.1.20:8080", "[fd00::2]:8080",
                                   "mybox",        "MyBox:8080",        "mybox.local:80"};
    for (const QByteArray& host : own) {
        EXPECT_FALSE(IsHostOfThisMachine(host, false, source)) << host.constData();
        EXPECT_TRUE(IsHostOfThisMachine(host, true, source)) << host.constData();
    }

    // Never, sharing or not: other names, look-alikes and malformed values.
    for (const QByteArray& host :
         {QByteArray("evil.example"), QByteArray("evil.example:8080"),
          QByteArray("localhost.evil.example"), QByteArray("mybox.evil.example"),
          QByteArray("localhost:99999"), QByteArray("localhost:80x"), QByteArray("localhost:"),
          QByteArray(""), QByteArray(":8080"), QByteArray("::1"), QByteArray("[::1"),
          QByteArray("[::1]x"), QByteArray("127.1"), QByteArray("0x7f.0.0.1"),
          QByteArray("192.168.1.21"), QByteArray("localhost\r\nX: y"), QByteArray("2130706433")}) {
        EXPECT_FALSE(IsHostOfThisMachine(host, false, source)) << host.constData();
        EXPECT_FALSE(IsHostOfThisMachine(host, true, source)) << host.constData();
    }
}

TEST(HostCheck, TheMachineKnowsItsOwnLoopbackAddress) {
    const MachineNames names = MachineNames::current();
    EXPECT_TRUE(names.addresses.contains(numericAddress("127.0.0.1")));
    EXPECT_FALSE(names.hostNames.isEmpty());
    for (const QString& name : names.hostNames)
        EXPECT_EQ(name, name.toLower());
}

TEST(RequestAccess, HostPeerAndLocalOnlyPages) {
    const MachineNames machine = lanMachine();
    const MachineNamesSource source = [&]() -> const MachineNames& { return machine; };
    const QString docDir = "/home/u/Documents/pagorama";
    const QString viewer = docDir + "/viewer.htm";
    auto check = [&](const QString& peer, const HttpRequest& request, const QString& document,
                     bool sharing) {
        return CheckRequestAccess(peer, request, docDir, document, sharing, source);
    };
    const HttpRequest local = requestWith("GET", {"Host: localhost:8080"});
    const HttpRequest noHost = requestWith("GET", {});
    const HttpRequest rebound =
        requestWith("GET", {"Host: evil.example:8080", "Origin: http://evil.example:8080"});
    const HttpRequest twoHosts = requestWith("GET", {"Host: localhost", "Host: evil.example"});
    const HttpRequest byAddress = requestWith("GET", {"Host: 192.168.1.20:8080"});

    EXPECT_EQ(check("127.0.0.1", local, viewer, false), Refusal::None);
    EXPECT_EQ(check("127.0.0.1", noHost, viewer, false), Refusal::None) << "HTTP/1.0 has no Host";
    EXPECT_EQ(check("127.0.0.1", rebound, viewer, false), Refusal::HostNotThisMachine);
    EXPECT_EQ(check("127.0.0.1", rebound, viewer, true), Refusal::HostNotThisMachine);
    EXPECT_EQ(check("127.0.0.1", twoHosts, viewer, false), Refusal::HostNotThisMachine);
    EXPECT_EQ(check("127.0.0.1", byAddress, viewer, false), Refusal::HostNotThisMachine);

    // Another computer: nothing while not sharing; while sharing the pages,
    // but neither the history pages nor a form post.
    EXPECT_EQ(check("192.168.1.30", byAddress, viewer, false), Refusal::HostNotThisMachine);
    EXPECT_EQ(check("192.168.1.30", noHost, viewer, false), Refusal::NotShared);
    EXPECT_EQ(check("192.168.1.30", byAddress, viewer, true), Refusal::None);
    for (const QString& page :
         {docDir + "/history.htm", docDir + "/history.xml", docDir + "/images/history/7.BMP"}) {
        EXPECT_EQ(check("192.168.1.30", byAddress, page, true), Refusal::LocalOnly)
            << page.toStdString();
        EXPECT_EQ(check("127.0.0.1", local, page, true), Refusal::None) << page.toStdString();
    }
    EXPECT_EQ(check("192.168.1.30", byAddress, docDir + "/images/7.BMP", true), Refusal::None);
    EXPECT_EQ(check("192.168.1.30", byAddress, docDir + "/historyx.htm", true), Refusal::None);
    const HttpRequest post = requestWith("POST", {"Host: 192.168.1.20:8080"});
    EXPECT_EQ(check("192.168.1.30", post, QString(), true), Refusal::LocalOnly);
    EXPECT_EQ(check("127.0.0.1", requestWith("POST", {"Host: localhost"}), QString(), true),
              Refusal::None);
}

TEST(RequestAccess, RefusalTextsAreShortAndPrintable) {
    HttpRequest request = requestWith("GET", {"Host: " + QByteArray(5000, 'h') + "\x01\x7f"});
    const QString text = RefusalText(Refusal::HostNotThisMachine, request);
    EXPECT_LT(text.size(), 200);
    EXPECT_TRUE(text.startsWith("Host 'hhh"));
    request = requestWith("GET", {"Host: a\x01"
                                  "b"});
    EXPECT_EQ(RefusalText(Refusal::HostNotThisMachine, request),
              "Host 'a?b' does not name this machine");
}
