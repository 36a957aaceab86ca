// The pacer lets a page's requests go one at a time per server, in the
// order the browser held them, and never loses one.
#include "catalogue/request_pacer.h"

#include <gtest/gtest.h>

using catalogue::RequestPacer;

namespace {

RequestPacer::Request held(const char* id, const char* network, const char* url) {
    return {QString::fromLatin1(id), QString::fromLatin1(network), QString::fromLatin1(url)};
}

} // namespace

TEST(RequestPacer, OneRequestPerServerAtATimeOthersSideBySide) {
    RequestPacer pacer;
    EXPECT_EQ(pacer.held(held("h1", "n1", "http://a.test/")), QStringList{"h1"});
    EXPECT_TRUE(pacer.held(held("h2", "n2", "http://a.test/style.css")).isEmpty());
    EXPECT_TRUE(pacer.held(held("h3", "n3", "http://A.test:80/picture.png")).isEmpty());
    // Another server, or the same name on another port or scheme, goes at once.
    EXPECT_EQ(pacer.held(held("h4", "n4", "http://b.test/x.png")), QStringList{"h4"});
    EXPECT_EQ(pacer.held(held("h5", "n5", "http://a.test:8080/")), QStringList{"h5"});
    EXPECT_EQ(pacer.held(held("h6", "n6", "https://a.test/")), QStringList{"h6"});
    // Each end lets the next of its server go, in the order held.
    EXPECT_EQ(pacer.ended("n1"), QStringList{"h2"});
    EXPECT_TRUE(pacer.ended("n4").isEmpty());
    EXPECT_EQ(pacer.ended("n2"), QStringList{"h3"});
    EXPECT_TRUE(pacer.ended("n3").isEmpty());
    EXPECT_EQ(pacer.held(held("h7", "n7", "http://a.test/late.js")), QStringList{"h7"});
    // An end the pacer never saw changes nothing.
    EXPECT_TRUE(pacer.ended("unknown").isEmpty());
    EXPECT_TRUE(pacer.held(held("h8", "n8", "http://a.test/after")).isEmpty());
}

TEST(RequestPacer, RedirectsGivenUpRequestsAndAddressesWithoutServer) {
    RequestPacer pacer;
    EXPECT_EQ(pacer.held(held("h1", "n1", "http://a.test/old")), QStringList{"h1"});
    EXPECT_TRUE(pacer.held(held("h2", "n2", "http://a.test/next")).isEmpty());
    EXPECT_EQ(pacer.held(held("h3", "n3", "http://b.test/")), QStringList{"h3"});
    // n1 is redirected to b.test, which is busy: a.test's next one goes, the
    // redirect waits for b.test.
    EXPECT_EQ(pacer.held(held("h4", "n1", "http://b.test/new")), QStringList{"h2"});
    EXPECT_EQ(pacer.ended("n3"), QStringList{"h4"});
    // A redirect to the same server goes on at once.
    EXPECT_EQ(pacer.held(held("h5", "n1", "http://b.test/newer")), QStringList{"h5"});

    // A held request the page gave up is never let go later.
    EXPECT_TRUE(pacer.held(held("h6", "n6", "http://b.test/gone")).isEmpty());
    EXPECT_TRUE(pacer.held(held("h7", "n7", "http://b.test/kept")).isEmpty());
    EXPECT_TRUE(pacer.ended("n6").isEmpty());
    EXPECT_EQ(pacer.ended("n1"), QStringList{"h7"});

    // Nothing to pace: no server, or no network id to see the end by.
    EXPECT_EQ(pacer.held(held("h8", "n8", "data:text/plain,x")), QStringList{"h8"});
    EXPECT_EQ(pacer.held(held("h9", "", "http://b.test/again")), QStringList{"h9"});

    // A new page starts with every server free.
    pacer.clear();
    EXPECT_EQ(pacer.held(held("h10", "n10", "http://b.test/")), QStringList{"h10"});
    EXPECT_EQ(pacer.ended("n7"), QStringList{});
}
