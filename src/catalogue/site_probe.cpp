#include "catalogue/site_probe.h"

#include "catalogue/file_type_icon.h"
#include "catalogue/html_text.h"
#include "platform/urlcache.h"

#include <QSet>

namespace catalogue {

namespace {

// An address of only a scheme and a host gets its "/" at the end.
QString withThreeSlashes(const QString& url) {
    return url.count('/') < 3 ? url + '/' : url;
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 307;
}

// The text after the first occurrence of name (any case) in the first header
// line that holds it; null when no line does.
QString headerText(const QStringList& lines, QLatin1String name) {
    for (const QString& line : lines) {
        const qsizetype at = line.indexOf(name, 0, Qt::CaseInsensitive);
        if (at >= 0)
            return line.mid(at + name.size());
    }
    return {};
}

const QLatin1String contentTypeName("CONTENT-TYPE:");

} // namespace

QString StripFragment(const QString& url) {
    const qsizetype hash = url.indexOf('#');
    return hash < 0 ? url : url.left(hash);
}

QString SiteRoot(const QString& url) {
    const QString full = withThreeSlashes(url);
    qsizetype at = -1;
    for (int i = 0; i < 3; ++i)
        at = full.indexOf('/', at + 1);
    return full.left(at + 1);
}

QString UrlFolder(const QString& url) {
    const QString full = withThreeSlashes(url);
    return full.left(full.lastIndexOf('/') + 1);
}

QString MakeAbsolute(const QString& found, const QString& current, bool secureSites) {
    if (found.left(7).toLower() == QLatin1String("http://"))
        return found;
    if (secureSites && found.left(8).toLower() == QLatin1String("https://"))
        return found;
    if (found.startsWith('/'))
        return SiteRoot(current) + found.mid(1);
    return UrlFolder(current) + found;
}

QString MajorContentType(const QString& afterName) {
    const qsizetype slash = afterName.indexOf('/');
    return slash < 0 ? QString() : afterName.left(slash).toLower().trimmed();
}

int SiteProbe::FetchStatus(const QString& url, bool wantBody) {
    bodyFetched_ = false;
    const QString start = url.left(8).toLower();
    const bool secure = start.startsWith(QLatin1String("https://"));
    if ((secure && !secureSites_) || start.startsWith(QLatin1String("ftp://"))) {
        // Nothing is fetched, so nothing of an earlier answer may be taken
        // for this address's headers, body or title.
        client_.clearResponse();
        return secure ? CodeHttps : CodeFtp;
    }
    const QString address = StripFragment(url);
    try {
        client_.head(address);
        int status = client_.statusCode();
        if (status == 501 || status == 403 || wantBody) {
            client_.get(address);
            status = client_.statusCode();
            bodyFetched_ = true;
        }
        return status;
    } catch (const HttpClientError& error) {
        // A certificate does not depend on the method: asking again would
        // only repeat the same refusal.
        if (error.kind() == HttpErrorKind::Certificate)
            return error.code();
    } catch (...) {
    }
    // Some servers refuse or break on HEAD: one plain GET decides.
    try {
        bodyFetched_ = true;
        client_.get(address);
        return client_.statusCode();
    } catch (const HttpClientError& error) {
        return error.code();
    } catch (...) {
        return CodeOtherError;
    }
}

bool SiteProbe::resolvePass(QString& url) {
    bool changed = false;
    int status = FetchStatus(url, false);
    for (int count = 0; isRedirect(status) && count < MaxRedirectsPerPass; ++count) {
        const QString location = headerText(client_.headerLines(), QLatin1String("LOCATION:"));
        if (!location.isNull()) {
            url = MakeAbsolute(location.trimmed(), url, secureSites_);
            changed = true;
        }
        status = FetchStatus(url, false);
    }
    if (MajorContentType(headerText(client_.headerLines(), contentTypeName)) != "text")
        return changed;
    if (!bodyFetched_)
        client_.get(StripFragment(url));
    const QByteArray body = client_.body();
    const QByteArray marker = "<meta http-equiv=refresh";
    const qsizetype at = body.toLower().indexOf(marker);
    if (at < 0)
        return changed;
    const QByteArray rest = body.mid(at + marker.size());
    const qsizetype urlAt = rest.toUpper().indexOf("URL=");
    const qsizetype close = rest.indexOf('>');
    if (urlAt < 0 || close < 0 || urlAt > close)
        return changed;
    QByteArray target = rest.mid(urlAt + 4, close - urlAt - 4);
    for (char quote : {'"', '\''}) {
        const qsizetype cut = target.indexOf(quote);
        if (cut >= 0)
            target.truncate(cut);
    }
    url = MakeAbsolute(QString::fromUtf8(target.trimmed()), url, secureSites_);
    return true;
}

bool SiteProbe::ResolveRedirects(QString& url) {
    bool answer = false;
    QSet<QString> seen;
    for (int pass = 0; pass < MaxPasses; ++pass) {
        seen.insert(url);
        bool changed = false;
        try {
            changed = resolvePass(url);
        } catch (...) {
            changed = false;
        }
        if (pass == 0)
            answer = changed;
        if (!changed || seen.contains(url))
            break;
    }
    return answer;
}

bool SiteProbe::hasPageOrPictureType(bool* sawContentType) const {
    *sawContentType = false;
    for (const QString& line : client_.headerLines()) {
        const qsizetype at = line.indexOf(contentTypeName, 0, Qt::CaseInsensitive);
        if (at < 0)
            continue;
        *sawContentType = true;
        const QString major = MajorContentType(line.mid(at + contentTypeName.size()));
        if (major == QLatin1String("text") || major == QLatin1String("image"))
            return true;
    }
    return false;
}

bool SiteProbe::IsPageOrPicture(const QString& url) {
    FetchStatus(url, false);
    bool sawContentType = false;
    if (hasPageOrPictureType(&sawContentType))
        return true;
    if (sawContentType)
        return false;
    FetchStatus(url, true);
    return hasPageOrPictureType(&sawContentType);
}

QByteArray SiteProbe::PageTitle(const QString& url) {
    FetchStatus(url, true);
    QByteArray text = client_.body();
    text.replace("\r\n", "\n").replace('\r', '\n').replace("\n", "\r\n");
    const QByteArray lower = text.toLower();
    const qsizetype open = lower.indexOf("<title>");
    if (open < 0)
        return {};
    const qsizetype start = open + 7;
    const qsizetype close = lower.indexOf("</title>", start);
    return close < 0 ? QByteArray() : DecodeHtmlText(text.mid(start, close - start));
}

int SiteProbe::CacheVisits(const QString& url) const {
    return cache_ ? cache_->hitCount(StripFragment(url)) : 0;
}

QImage SiteProbe::FileTypeIcon(const QString& url) {
    return catalogue::FileTypeIcon(url);
}

} // namespace catalogue
