#pragma once
// The pure pieces of the edit form posts: splitting and decoding the posted
// fields, the checks that keep posted names from becoming paths, and the
// texts of the form record and the results page. No files, no sockets.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace webserver {

inline constexpr const char* EditFormPath = "/cgi-bin/cgifrm1.exe";
inline constexpr const char* HistoryFormPath = "/cgi-bin/cgifrm2.exe";

enum class FormKind { None, Edit, History };
// Which form a request path names (letter case ignored).
FormKind FormKindOf(const QByteArray& path);

// Splits text at every separator; each separator ends a field, empty ones
// included. A trailing separator adds one empty field. Nothing is decoded.
// Returns the number of fields appended to list.
int SplitFields(const QByteArray& text, char separator, QList<QByteArray>& list);

// True for the fields an editor page adds beside the ones it is edited by:
// the values it was built with ("WasEdit", "WasCombo", "WasOB" + identity)
// and the folder-kind choice ("Top" + identity). They are not counted as
// results and not kept in the record of the form's values.
bool IsCarriedField(const QByteArray& field);

// "+" as a blank, then every "%" with two hexadecimal digits (either case)
// as the byte they give; a "%" without two digits stays as it is. Decoded
// bytes are never decoded again.
QByteArray DecodeFormValue(const QByteArray& text);

// A folder below the Favorites folder (native, with or without a final "/")
// in the relative form shown to the user: "\" for the Favorites folder
// itself, "\Links\" for its subfolder Links.
QString RelativeFolder(const QString& folder, const QString& favoritesFolder);
// The catalogue location of such a folder ("" or "Links" or "News\Tech"),
// which also keys the folder's organiser data.
QString FolderLocation(const QString& folder, const QString& favoritesFolder);

// An integer as typed into the sort order box: optional leading blanks and
// sign, then decimal digits, or hexadecimal digits after "$" or "0x".
std::optional<qint64> ParseSortOrder(const QString& text);

// True when name can be used as one file or folder name: not empty, not "."
// or "..", and free of "/", "\", NUL and control characters.
bool IsSafeName(const QString& name);

// The longest name (in UTF-8 bytes) CleanFileName gives: room for ".URL",
// a " (N)" suffix and the temporary name of a whole-file write within the
// 255 bytes of a file name.
inline constexpr int MaxNameBytes = 240;

// The longest start of name that fits in maxBytes of UTF-8 (never half a
// surrogate pair).
QString CutToUtf8Bytes(const QString& name, int maxBytes);

// A title as one file or folder name: "/" and "\" as "-", control characters
// as blanks, runs of blanks as one, no blanks at either end and no leading
// dots, cut to MaxNameBytes. Empty when nothing usable is left.
QString CleanFileName(const QString& title);

// A file name (without extension) for a page title: control characters and
// path separators replaced, blanks trimmed, cut to fit a file name. A title
// that leaves nothing usable gives the address's host name.
QString SafeNameFromTitle(const QString& title, const QString& address);

// The record of one form: "YYYYMMDD HHNNSS there were N results from<peer>
// <br>Action taken : " and each result line followed by CR LF.
QByteArray FormRecord(const QDateTime& when, int count, const QString& peerAddr,
                      const QStringList& results);

// The whole results answer (header and page) for a record.
QByteArray ResultsAnswer(const QByteArray& version, const QByteArray& record);

} // namespace webserver
