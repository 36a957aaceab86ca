#pragma once
// Which requests the server answers at all. The pages show the user's
// favourites and browsing history and the forms change the Favorites, so:
// - every request must name this machine in its Host header; a page of
//   another site whose name was pointed at this machine (DNS rebinding)
//   names that site and is refused. A request without Host is accepted;
// - while the pages are not shared, only this machine may ask;
// - even when they are shared, the history pages and the form posts are
//   for this machine only.
#include "webserver/http_request.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace webserver {

// The names and addresses of this machine that other computers may use to
// reach it: interface addresses and the host name.
struct MachineNames {
    QList<QByteArray> addresses; // binary form: 4 bytes IPv4, 16 bytes IPv6
    QStringList hostNames;       // lower case
    // Read from the system (interface addresses and the host name); no
    // name service is asked.
    static MachineNames current();
};

// The address as 4 or 16 bytes, or empty when text is no numeric IPv4
// address (dotted quad) or IPv6 address.
QByteArray numericAddress(const QString& text);

// True for 127.0.0.0/8 and ::1 (also an IPv4-mapped 127.x address), in
// binary form.
bool isLoopbackAddress(const QByteArray& address);

// Gives the machine's names when a check needs them (reading them costs
// system calls, so only requests that name something else pay for it).
using MachineNamesSource = std::function<const MachineNames&()>;

// True when a Host header value names this machine, with or without a port:
// "localhost" or a loopback address always; while sharing, also one of the
// machine's addresses or host names (a host name also with ".local").
bool IsHostOfThisMachine(const QByteArray& host, bool sharing, const MachineNamesSource& machine);

// True for the documents that only this machine may see even while the
// pages are shared: the history pages and their pictures.
bool IsLocalOnlyDocument(const QString& docDir, const QString& document);

enum class Refusal {
    None,
    HostNotThisMachine, // the Host header names another machine
    NotShared,          // another computer asked while the pages are not shared
    LocalOnly,          // another computer asked for a history page or posted a form
};

// The decision for one complete request; document is the mapped path.
Refusal CheckRequestAccess(const QString& peerAddr, const HttpRequest& request,
                           const QString& docDir, const QString& document, bool sharing,
                           const MachineNamesSource& machine);

// One short log text for a refusal ("Host 'x' does not name this machine").
QString RefusalText(Refusal refusal, const HttpRequest& request);
// The sentence the refused client reads on its answer page.
QByteArray RefusalAnswerText(Refusal refusal);

} // namespace webserver
