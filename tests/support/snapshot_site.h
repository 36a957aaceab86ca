#pragma once
// Pages and checks shared by the snapshot tests: a strongly coloured page
// with text, routes that misbehave only towards the browser (which sends a
// user agent; the site probe sends none), and the main colour of a picture.
#include "support/test_site.h"

#include <QByteArray>
#include <QImage>

#include <functional>

namespace testsupport {

// A page whose picture is mostly red (#e00000) with white text.
extern const QByteArray kRedPage;

bool requestFromBrowser(const TestSite::Request& request);
// How many requests the browser has made to the site.
int browserRequestCount(const TestSite& site);

// A route that answers the probe with a small page and leaves the browser's
// request hanging until the site stops. onBrowserRequest (if set) runs once,
// when the browser first asks.
void setHangingRoute(TestSite& site, const QByteArray& route,
                     std::function<void()> onBrowserRequest = {});
// A page whose script never ends, and a 25 MiB page.
void setScriptLoopRoute(TestSite& site, const QByteArray& route);
// A page whose script never ends and, once stopped, starts again from a
// timer: stopping the script does not free its page process.
void setTimerLoopRoute(TestSite& site, const QByteArray& route);
void setHugeRoute(TestSite& site, const QByteArray& route);

// The colour covering most pixels.
QRgb dominantColour(const QImage& image);
bool isStrongRed(QRgb colour);

} // namespace testsupport
