// The page renderer on "https://" pages: a real headless Chromium trusting
// the test's own authority through the NSS database of a temporary HOME.
// A page whose certificate the browser refuses must never be pictured.
#include "catalogue/browser_tab.h"
#include "catalogue/page_renderer.h"
#include "support/snapshot_site.h"
#include "support/temp_home.h"
#include "support/test_certificates.h"

#include <gtest/gtest.h>

using catalogue::PageRenderer;
using namespace testsupport;

namespace {

class SecurePageRendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (PageRenderer::findBrowser().isEmpty())
            FAIL() << "Chromium is not installed (scripts/packages.txt names it)";
        QString error;
        ASSERT_TRUE(TrustInBrowser(home.path(), authority.certificatePem(), &error))
            << error.toStdString();
        renderer.setTimeouts(5000, 10000);
        for (TestSite* site : {&trusted, &selfSigned, &wrongHost})
            site->setRawRoute("/red-news", TestSite::response(200, "text/html", kRedPage));
    }

    static ServerNames elsewhere() {
        ServerNames names;
        names.dns = {QStringLiteral("elsewhere.invalid")};
        names.ip = {QStringLiteral("10.9.8.7")};
        return names;
    }

    TempHome home; // before the browser starts: it reads the NSS database below HOME
    TestAuthority authority{QStringLiteral("Pagorama browser test authority")};
    TestSite trusted{authority.issue()};
    TestSite selfSigned{SelfSignedCertificate()};
    TestSite wrongHost{authority.issue(elsewhere())};
    TestSite plain;
    PageRenderer renderer;
};

} // namespace

TEST_F(SecurePageRendererTest, TrustedPagesArePicturedAndRefusedOnesNever) {
    ASSERT_TRUE(renderer.start());
    bool refused = true;
    const QImage red = renderer.capture(trusted.url("/red-news"), &refused);
    ASSERT_FALSE(red.isNull());
    EXPECT_FALSE(refused);
    EXPECT_TRUE(isStrongRed(dominantColour(red)));
    const QImage byName = renderer.capture(trusted.urlAt("localhost", "/red-news"), &refused);
    EXPECT_FALSE(refused);
    EXPECT_TRUE(isStrongRed(dominantColour(byName)));
    const pid_t browser = renderer.browserProcessId();

    plain.setRawRoute(
        "/to-untrusted",
        TestSite::response(302, "text/html", "moved",
                           "Location: " + selfSigned.url("/red-news").toUtf8() + "\r\n"));
    const QList<std::pair<const char*, QString>> refusedPages = {
        {"self-signed", selfSigned.url("/red-news")},
        {"issued for another host", wrongHost.url("/red-news")},
        {"redirected to a self-signed site", plain.url("/to-untrusted")},
    };
    for (const auto& [what, url] : refusedPages) {
        SCOPED_TRACE(what);
        refused = false;
        const QImage shot = renderer.capture(url, &refused);
        EXPECT_TRUE(shot.isNull()) << "the browser's warning page was pictured";
        EXPECT_TRUE(refused);
    }
    EXPECT_TRUE(selfSigned.requests().isEmpty() && wrongHost.requests().isEmpty())
        << "the browser sent a request over a refused connection";

    // A refused page is the site's fault: the same browser goes on.
    EXPECT_EQ(renderer.browserProcessId(), browser);
    const QImage again = renderer.capture(trusted.url("/red-news"), &refused);
    EXPECT_FALSE(refused);
    EXPECT_TRUE(isStrongRed(dominantColour(again)));
    EXPECT_EQ(renderer.browserProcessId(), browser);
}

TEST_F(SecurePageRendererTest, NavigationsThePageStartsItselfAreWatchedToo) {
    ASSERT_TRUE(renderer.start());
    // A page that sends the browser on to a refused site by script.
    plain.setRawRoute("/script-to-untrusted",
                      TestSite::response(200, "text/html",
                                         "<html><body style=\"background:#00e000\"><h1>Go</h1>"
                                         "<script>location.href='" +
                                             selfSigned.url("/red-news").toUtf8() +
                                             "';</script></body></html>"));
    bool refused = false;
    EXPECT_TRUE(renderer.capture(plain.url("/script-to-untrusted"), &refused).isNull());
    EXPECT_TRUE(refused);

    // A refused frame inside a page leaves the page itself to be pictured.
    trusted.setRawRoute("/with-frame", TestSite::response(200, "text/html",
                                                          kRedPage + "<iframe src=\"" +
                                                              selfSigned.url("/red-news").toUtf8() +
                                                              "\"></iframe>"));
    const QImage framed = renderer.capture(trusted.url("/with-frame"), &refused);
    EXPECT_FALSE(refused);
    EXPECT_TRUE(isStrongRed(dominantColour(framed)));
}

TEST(SecurePageRendererErrors, OnlyCertificateErrorsCount) {
    EXPECT_TRUE(catalogue::BrowserTab::isCertificateError("net::ERR_CERT_AUTHORITY_INVALID"));
    EXPECT_TRUE(catalogue::BrowserTab::isCertificateError("net::ERR_CERT_COMMON_NAME_INVALID"));
    EXPECT_TRUE(
        catalogue::BrowserTab::isCertificateError("net::ERR_CERTIFICATE_TRANSPARENCY_REQUIRED"));
    EXPECT_FALSE(catalogue::BrowserTab::isCertificateError("net::ERR_CONNECTION_REFUSED"));
    EXPECT_FALSE(catalogue::BrowserTab::isCertificateError("net::ERR_ABORTED"));
    EXPECT_FALSE(catalogue::BrowserTab::isCertificateError(""));
}
