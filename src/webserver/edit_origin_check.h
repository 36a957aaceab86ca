#pragma once
// Who may post an edit form: the forms change the user's Favorites, so only
// pages of this server on this machine may send them. A page of any other
// site that makes the browser post here is refused.
#include "webserver/http_request.h"

#include <QString>

namespace webserver {

// True for 127.0.0.0/8 and ::1 (also written as an IPv4-mapped address).
bool IsLoopbackPeer(const QString& peerAddr);

// The peer must be a loopback address. When the request carries Origin
// (else Referer), that origin's host must be a loopback name or address
// (localhost, 127.x.x.x, [::1]) and its port (80 when absent) must be
// serverPort. A request with neither header passes.
bool IsEditPostAllowed(const QString& peerAddr, const HttpRequest& request, quint16 serverPort);

} // namespace webserver
