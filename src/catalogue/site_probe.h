#pragma once
// The site probe asks a favourite's web server about an address: its status,
// where it redirects (also through refresh elements), whether it holds a page
// or a picture, the page's title, and how often the browser has visited it.
// Each probe object has its own HTTP client and state, so probes on the
// worker and on the main thread never share anything.
#include "catalogue/picture_step.h"
#include "catalogue/site_http_client.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {
class UrlCache;
}

namespace catalogue {

// Probe result codes of our own.
// An "https://" address whose server's certificate fails verification.
inline constexpr int CodeCertificate = static_cast<int>(HttpErrorKind::Certificate);
inline constexpr int CodeFtp = -97;
// An "https://" address while secure sites are not fetched.
inline constexpr int CodeHttps = -98;
inline constexpr int CodeOtherError = -99;

// The address up to its first "#".
QString StripFragment(const QString& url);
// The address up to and including its third "/".
QString SiteRoot(const QString& url);
// The address up to and including its last "/".
QString UrlFolder(const QString& url);
// A Location or refresh target made absolute against the current address.
// An "https://" target counts as absolute only when secure sites are
// fetched; otherwise it is taken as relative, like any other text.
QString MakeAbsolute(const QString& found, const QString& current, bool secureSites = false);
// The major type of the first "Content-Type:" header line, lower-cased;
// empty when there is none or it holds no "/".
QString MajorContentType(const QString& headerLine);

class SiteProbe : public PictureProbe {
public:
    // A redirect and refresh chain ends after this many passes or when an
    // address comes back.
    static constexpr int MaxPasses = 10;
    static constexpr int MaxRedirectsPerPass = 6;

    // cache may be null: every address then has 0 visits. Without
    // secureSites every "https://" address answers CodeHttps unfetched;
    // with it such addresses are fetched over verified TLS.
    explicit SiteProbe(const platform::UrlCache* cache = nullptr, bool secureSites = false)
        : cache_(cache), secureSites_(secureSites) {}

    int FetchStatus(const QString& url, bool wantBody) override;
    // Follows redirects and refreshes; leaves the final address in url.
    // True when the first pass changed the address without an error.
    bool ResolveRedirects(QString& url);
    bool IsPageOrPicture(const QString& url) override;
    // The title as the page shows it: its character references decoded to
    // UTF-8, line breaks as CR LF; empty when the page has no complete title
    // element.
    QByteArray PageTitle(const QString& url) override;
    int CacheVisits(const QString& url) const;
    QImage FileTypeIcon(const QString& url) override;

    // Set when the last probe request was a GET, so its body is at hand.
    bool BodyFetched() const { return bodyFetched_; }
    TSiteHttpClient& client() { return client_; }

private:
    bool resolvePass(QString& url);
    bool hasPageOrPictureType(bool* sawContentType) const;

    const platform::UrlCache* cache_;
    bool secureSites_;
    TSiteHttpClient client_;
    bool bodyFetched_ = false;
};

} // namespace catalogue
