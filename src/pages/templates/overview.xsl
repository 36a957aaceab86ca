<?xml version="1.0" encoding="ISO-8859-1"?>
<!-- The overview: every favourite of every folder on one page, in a grid that
     fills the window, with a search box, a folder filter, a filter for the
     favourites whose last probe failed and one for the https favourites that
     were not probed because secure sites are off. Everything taken from the catalogue
     is written as text or as a quoted attribute value, and the script only
     ever sets text, classes, the hidden flag and the pictures' display size
     (a button picks small or large cards). -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" encoding="UTF-8" indent="no" doctype-system="about:legacy-compat"/>

<xsl:variable name="links" select="/BROWSERINFO/Favoritesfolder/Folder/Link[@DESCRIPTION]"/>
<!-- -98: an https address left unprobed while "Picture secure (https) sites"
     is off. Nothing failed there, so it is never counted as failed. -->
<xsl:variable name="unchecked" select="$links[@CODE = -98]"/>

<xsl:template match="/">
<html lang="en">
<head>
<meta name="viewport" content="width=device-width, initial-scale=1"/>
<meta name="color-scheme" content="light dark"/>
<meta http-equiv="expires" content="0"/>
<meta http-equiv="Pragma" content="no-cache"/>
<title>Overview of all favourites</title>
<style><![CDATA[
:root {
    --back: #f4f5f7; --card: #ffffff; --text: #1d2430; --muted: #5b6472;
    --line: #d5d9e0; --accent: #1a5fb4; --failed: #b3261e; --failed-back: #fdecea;
    --focus: #e66100;
    color-scheme: light;
}
@media (prefers-color-scheme: dark) {
    :root {
        --back: #15181d; --card: #22262d; --text: #e7e9ed; --muted: #a3abb8;
        --line: #3a404a; --accent: #8cb8f5; --failed: #ff8a80; --failed-back: #3d2323;
        --focus: #ffa348;
        color-scheme: dark;
    }
}
* { box-sizing: border-box; }
[hidden] { display: none !important; }
html { background: var(--back); color: var(--text); scroll-padding-top: 80px; }
body { margin: 0; font: 14px/1.35 "DejaVu Sans", system-ui, sans-serif; overflow-wrap: anywhere; }
header.bar {
    position: sticky; top: 0; z-index: 1; display: flex; flex-wrap: wrap; gap: 8px 14px;
    align-items: center; padding: 10px 12px; background: var(--back);
    border-bottom: 1px solid var(--line);
}
header.bar h1 { font-size: 17px; margin: 0; }
@media (max-width: 600px) {
    /* On a phone the bar takes several lines: it scrolls away with the page. */
    header.bar { position: static; }
    html { scroll-padding-top: 0; }
}
a { color: var(--accent); }
#search {
    flex: 1 1 220px; min-width: 0; max-width: 520px; padding: 6px 9px; font: inherit;
    color: var(--text); background: var(--card); border: 1px solid var(--line); border-radius: 6px;
}
#count { color: var(--muted); }
button {
    font: inherit; color: var(--accent); background: none; border: 1px solid transparent;
    border-radius: 4px; padding: 1px 4px; cursor: pointer; overflow-wrap: anywhere; text-align: left;
}
button:hover { border-color: var(--line); }
#failed[aria-pressed="true"] { color: #fff; background: var(--failed); }
#failed { color: var(--failed); border-color: var(--failed); }
#unchecked { color: var(--muted); border-color: var(--line); }
#unchecked[aria-pressed="true"] { color: var(--back); background: var(--muted); }
#unchecked-hint { color: var(--muted); font-size: 12px; }
nav.crumbs { display: flex; flex-wrap: wrap; align-items: center; gap: 2px; min-width: 0; }
nav.crumbs span.sep { color: var(--muted); padding: 0 2px; }
#filter { flex-basis: 100%; }
main { padding: 6px 12px 24px; }
/* With thousands of favourites only what is near the window is laid out
   and painted, so filtering and scrolling stay quick. */
section.folder { content-visibility: auto; contain-intrinsic-size: auto 1000px auto 600px; }
ul.grid > li { content-visibility: auto; contain-intrinsic-size: auto 140px auto 200px; }
section.folder h2 { font-size: 15px; font-weight: normal; margin: 14px 0 6px; }
ul.grid {
    list-style: none; margin: 0; padding: 0; display: grid; gap: 10px;
    grid-template-columns: repeat(auto-fill, minmax(140px, 1fr));
}
.card {
    display: flex; flex-direction: column; align-items: center; gap: 3px; height: 100%;
    padding: 8px 6px; background: var(--card); border: 1px solid var(--line); border-radius: 8px;
    color: var(--text); text-decoration: none; min-width: 0; position: relative;
}
a.card:hover { border-color: var(--accent); }
.card:focus-visible, button:focus-visible, #search:focus-visible {
    outline: 3px solid var(--focus); outline-offset: 1px;
}
.card img { width: 122px; height: 122px; object-fit: contain; background: var(--back); }
/* Larger cards, chosen with the "Larger pictures" button. */
html.large ul.grid { grid-template-columns: repeat(auto-fill, minmax(262px, 1fr)); }
html.large ul.grid > li { contain-intrinsic-size: auto 262px auto 320px; }
html.large .card img { width: 244px; height: 244px; }
#size[aria-pressed="true"] { color: var(--back); background: var(--accent); }
.card .name { font-weight: bold; text-align: center; max-width: 100%; }
.card .title, .card .url {
    color: var(--muted); font-size: 12px; max-width: 100%; overflow: hidden;
    text-overflow: ellipsis; white-space: nowrap;
}
.card .title:empty { display: none; }
.card.failed { border-color: var(--failed); background: var(--failed-back); }
.card.unchecked .code { background: var(--muted); }
.card .code {
    position: absolute; top: 4px; right: 4px; padding: 0 5px; border-radius: 4px;
    font-size: 12px; color: #fff; background: var(--failed);
}
p.none { color: var(--muted); }
]]></style>
<script><![CDATA[
// A picture without its large copy falls back to the small one, and one
// without a compressed copy at all (made before copies were written) to the
// stored original. Listening from the head catches the pictures that fail
// while the rest of the page is still arriving.
document.addEventListener("error", function (event) {
    var img = event.target;
    if (!img || img.tagName !== "IMG")
        return;
    var original = img.getAttribute("data-original");
    if (img.hasAttribute("srcset"))
        img.removeAttribute("srcset");
    else if (original && img.getAttribute("src") !== original)
        img.setAttribute("src", original);
}, true);
// The card size the user picked last, kept by the browser for this page.
var largeCards = false;
try { largeCards = localStorage.getItem("pagorama.overview.cards") === "large"; } catch (e) {}
if (largeCards)
    document.documentElement.classList.add("large");
]]></script>
</head>
<body>
<header class="bar">
<h1>Favourites</h1>
<a href="viewer.htm">Back to the viewer</a>
<input type="search" id="search" autocomplete="off" spellcheck="false" placeholder="Search (press /)" aria-label="Search favourites by name, address or title"/>
<span id="count" role="status"><xsl:value-of select="count($links)"/> favourites</span>
<button type="button" id="failed" aria-pressed="false" title="Show only the favourites whose last check failed">Failed: <span id="failed-count">0</span></button>
<xsl:if test="$unchecked">
<button type="button" id="unchecked" aria-pressed="false" title="Show only the https favourites that were not checked">Not checked: <xsl:value-of select="count($unchecked)"/></button>
<span id="unchecked-hint">https favourites are checked and pictured only with "Picture secure (https) sites" ticked (SecureSites=1).</span>
</xsl:if>
<button type="button" id="size" aria-pressed="false" title="Show the pictures at twice the size">Larger pictures</button>
<nav class="crumbs" id="filter" aria-label="Folder filter" hidden="hidden"></nav>
</header>
<main id="folders">
<xsl:for-each select="/BROWSERINFO/Favoritesfolder/Folder[Link[@DESCRIPTION]]">
<section class="folder" data-path="{@Location}">
<h2><nav class="crumbs" aria-label="Folder"><xsl:call-template name="crumbs"><xsl:with-param name="rest" select="@Location"/></xsl:call-template></nav></h2>
<ul class="grid">
<xsl:for-each select="Link[@DESCRIPTION]">
<li><xsl:call-template name="card"/></li>
</xsl:for-each>
</ul>
</section>
</xsl:for-each>
<p class="none" id="none" hidden="hidden">No favourite matches.</p>
</main>
<script><![CDATA[
(function () {
    "use strict";
    var search = document.getElementById("search");
    var count = document.getElementById("count");
    var failedButton = document.getElementById("failed");
    var uncheckedButton = document.getElementById("unchecked");
    var filterBar = document.getElementById("filter");
    var none = document.getElementById("none");

    // Everything the filters look at, read once: the filters then only
    // toggle the hidden flag of elements that already exist.
    var folders = [];
    var total = 0, failedTotal = 0;
    var sections = document.querySelectorAll("section.folder");
    for (var s = 0; s < sections.length; s++) {
        var folder = {el: sections[s], path: sections[s].getAttribute("data-path"), cards: [],
                      shown: true};
        var items = sections[s].querySelectorAll("ul.grid > li");
        for (var i = 0; i < items.length; i++) {
            var card = items[i].firstElementChild;
            var status = card.classList.contains("failed") ? "failed" :
                         card.classList.contains("unchecked") ? "unchecked" : "";
            var words = [];
            var parts = card.querySelectorAll(".name, .url, .title");
            for (var p = 0; p < parts.length; p++)
                words.push(parts[p].textContent.toLowerCase());
            folder.cards.push({el: items[i], text: words.join("\n"), status: status, shown: true});
            total++;
            if (status === "failed")
                failedTotal++;
        }
        folders.push(folder);
    }
    document.getElementById("failed-count").textContent = failedTotal;

    var folderFilter = null; // a Location, or null for every folder
    var statusFilter = ""; // "failed", "unchecked", or "" for any status

    function inFolder(path) {
        return folderFilter === null || folderFilter === "" || path === folderFilter ||
               path.lastIndexOf(folderFilter + "\\", 0) === 0;
    }

    function apply() {
        var terms = search.value.toLowerCase().split(/\s+/).filter(function (t) { return t; });
        var shown = 0;
        for (var f = 0; f < folders.length; f++) {
            var folder = folders[f];
            var any = false;
            var folderOn = inFolder(folder.path);
            for (var c = 0; c < folder.cards.length; c++) {
                var card = folder.cards[c];
                var on = folderOn && (!statusFilter || card.status === statusFilter);
                for (var t = 0; on && t < terms.length; t++)
                    on = card.text.indexOf(terms[t]) >= 0;
                if (on !== card.shown) {
                    card.shown = on;
                    card.el.hidden = !on;
                }
                if (on) {
                    any = true;
                    shown++;
                }
            }
            if (any !== folder.shown) {
                folder.shown = any;
                folder.el.hidden = !any;
            }
        }
        count.textContent = shown === total ? total + " favourites" : shown + " of " + total + " favourites";
        none.hidden = shown > 0;
    }

    // The breadcrumb of the folder filter, made of text nodes only.
    function showFilter() {
        while (filterBar.firstChild)
            filterBar.removeChild(filterBar.firstChild);
        if (folderFilter === null || folderFilter === "") {
            filterBar.hidden = true;
            return;
        }
        filterBar.hidden = false;
        filterBar.appendChild(document.createTextNode("Folder: "));
        var parts = folderFilter.split("\\");
        addCrumb(filterBar, "All folders", null);
        for (var i = 0; i < parts.length; i++) {
            var sep = document.createElement("span");
            sep.className = "sep";
            sep.textContent = "\u203a";
            filterBar.appendChild(sep);
            addCrumb(filterBar, parts[i], parts.slice(0, i + 1).join("\\"));
        }
    }

    function addCrumb(bar, label, path) {
        var button = document.createElement("button");
        button.type = "button";
        button.textContent = label;
        if (path !== null)
            button.setAttribute("data-path", path);
        bar.appendChild(button);
    }

    function setFolder(path) {
        folderFilter = path;
        showFilter();
        apply();
        window.scrollTo(0, 0);
    }

    document.addEventListener("click", function (event) {
        var button = event.target.closest ? event.target.closest("nav.crumbs button") : null;
        if (!button)
            return;
        var path = button.getAttribute("data-path");
        setFolder(path === "" ? null : path);
    });

    // The status filters exclude each other: pressing one releases the other.
    function setStatus(status) {
        statusFilter = statusFilter === status ? "" : status;
        failedButton.setAttribute("aria-pressed", statusFilter === "failed" ? "true" : "false");
        if (uncheckedButton)
            uncheckedButton.setAttribute("aria-pressed",
                                         statusFilter === "unchecked" ? "true" : "false");
        apply();
    }
    failedButton.addEventListener("click", function () { setStatus("failed"); });
    if (uncheckedButton)
        uncheckedButton.addEventListener("click", function () { setStatus("unchecked"); });

    search.addEventListener("input", apply);
    search.addEventListener("keydown", function (event) {
        if (event.key === "Escape") {
            search.value = "";
            apply();
        } else if (event.key === "Enter" || event.key === "ArrowDown") {
            // The first shown favourite takes the focus; Enter there opens it.
            var first = document.querySelector("ul.grid > li:not([hidden]) > .card");
            var folder = first ? first.closest("section.folder") : null;
            if (first && !folder.hidden) {
                event.preventDefault();
                first.focus();
            }
        }
    });

    // "/" anywhere but in a text field goes to the search box.
    document.addEventListener("keydown", function (event) {
        if (event.key !== "/" || event.ctrlKey || event.altKey || event.metaKey)
            return;
        var target = event.target;
        if (target && (target.tagName === "INPUT" || target.tagName === "TEXTAREA" ||
                       target.isContentEditable))
            return;
        event.preventDefault();
        search.focus();
        search.select();
    });

    // The pictures' display size picks the copy: the small one for small
    // cards on ordinary screens, the large one for dense screens and large cards.
    var sizeButton = document.getElementById("size");
    function showSize(large) {
        document.documentElement.classList.toggle("large", large);
        sizeButton.setAttribute("aria-pressed", large ? "true" : "false");
        var images = document.querySelectorAll(".card img[srcset]");
        for (var i = 0; i < images.length; i++)
            images[i].sizes = large ? "244px" : "122px";
    }
    sizeButton.addEventListener("click", function () {
        largeCards = !largeCards;
        try { localStorage.setItem("pagorama.overview.cards", largeCards ? "large" : "small"); }
        catch (e) {}
        showSize(largeCards);
    });
    if (largeCards)
        showSize(true);

    if (search.value)
        apply();
})();
]]></script>
</body>
</html>
</xsl:template>

<!-- The folder path as buttons, each filtering to that folder and the
     folders inside it. -->
<xsl:template name="crumbs">
<xsl:param name="rest"/>
<xsl:param name="done" select="''"/>
<xsl:if test="$done = ''"><button type="button" data-path="">Favourites</button></xsl:if>
<xsl:if test="$rest != ''">
<xsl:variable name="part">
<xsl:choose>
<xsl:when test="contains($rest, '\')"><xsl:value-of select="substring-before($rest, '\')"/></xsl:when>
<xsl:otherwise><xsl:value-of select="$rest"/></xsl:otherwise>
</xsl:choose>
</xsl:variable>
<xsl:variable name="path">
<xsl:choose>
<xsl:when test="$done = ''"><xsl:value-of select="$part"/></xsl:when>
<xsl:otherwise><xsl:value-of select="concat($done, '\', $part)"/></xsl:otherwise>
</xsl:choose>
</xsl:variable>
<span class="sep">&#8250;</span><button type="button" data-path="{$path}"><xsl:value-of select="$part"/></button>
<xsl:call-template name="crumbs">
<xsl:with-param name="rest" select="substring-after($rest, '\')"/>
<xsl:with-param name="done" select="$path"/>
</xsl:call-template>
</xsl:if>
</xsl:template>

<!-- One favourite: picture, name, page title and address. An address that
     would run script with this page's origin (javascript:, data:, vbscript:,
     letter case and the blanks a browser ignores aside) is never a link. -->
<xsl:template name="card">
<xsl:variable name="scheme" select="translate(substring-before(normalize-space(translate(@PID_IS_URL, '&#9;&#10;&#13;', '')), ':'), 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz')"/>
<xsl:variable name="failed" select="@CODE and not(@CODE = 200 or @CODE = 501 or @CODE = 301 or @CODE = 302 or @CODE = -97 or @CODE = -98)"/>
<xsl:variable name="class">card<xsl:if test="$failed"> failed</xsl:if><xsl:if test="@CODE = -98"> unchecked</xsl:if></xsl:variable>
<xsl:variable name="meaning"><xsl:choose>
<xsl:when test="$failed"><xsl:call-template name="code-meaning"><xsl:with-param name="code" select="number(@CODE)"/></xsl:call-template></xsl:when>
<xsl:when test="@CODE = -98">Not checked: https addresses are checked only with "Picture secure (https) sites" ticked (SecureSites=1)</xsl:when>
</xsl:choose></xsl:variable>
<xsl:choose>
<xsl:when test="not(@PID_IS_URL) or $scheme = 'javascript' or $scheme = 'data' or $scheme = 'vbscript'">
<div class="{$class}" tabindex="0"><xsl:call-template name="card-content"><xsl:with-param name="meaning" select="$meaning"/></xsl:call-template></div>
</xsl:when>
<xsl:otherwise>
<a class="{$class}" href="{@PID_IS_URL}"><xsl:call-template name="card-content"><xsl:with-param name="meaning" select="$meaning"/></xsl:call-template></a>
</xsl:otherwise>
</xsl:choose>
</xsl:template>

<!-- A failed favourite's meaning shows when the pointer rests anywhere on
     its card. -->
<xsl:template name="card-content">
<xsl:param name="meaning"/>
<xsl:if test="$meaning != ''"><xsl:attribute name="title"><xsl:value-of select="$meaning"/></xsl:attribute></xsl:if>
<xsl:if test="@IMAGE">
<!-- The compressed copies beside the stored picture: same name, ".png"
     (122 x 91) and ".large.png" (366 x 273). -->
<xsl:variable name="image" select="translate(@IMAGE, '\', '/')"/>
<xsl:variable name="length" select="string-length($image)"/>
<xsl:variable name="isBmp" select="translate(substring($image, $length - 3), 'BMP', 'bmp') = '.bmp'"/>
<img loading="lazy" alt="" width="122" height="122" data-original="{$image}">
<xsl:attribute name="src">
<xsl:choose>
<xsl:when test="$isBmp"><xsl:value-of select="concat(substring($image, 1, $length - 4), '.png')"/></xsl:when>
<xsl:otherwise><xsl:value-of select="$image"/></xsl:otherwise>
</xsl:choose>
</xsl:attribute>
<xsl:variable name="stem" select="substring($image, 1, $length - 4)"/>
<!-- A picture list separates its entries by commas and spaces. -->
<xsl:if test="$isBmp and not(contains($stem, ' ')) and not(contains($stem, ','))">
<xsl:attribute name="srcset"><xsl:value-of select="concat($stem, '.png 122w, ', $stem, '.large.png 366w')"/></xsl:attribute>
<xsl:attribute name="sizes">122px</xsl:attribute>
</xsl:if>
</img>
</xsl:if>
<span class="name"><xsl:value-of select="@DESCRIPTION"/></span>
<span class="title"><xsl:value-of select="@GIVEN_TITLE"/></span>
<span class="url"><xsl:value-of select="@PID_IS_URL"/></span>
<xsl:if test="$meaning != ''">
<span class="code" title="{$meaning}"><xsl:value-of select="@CODE"/></span>
</xsl:if>
</xsl:template>

<!-- What a failed probe's code means, as the user reads it. -->
<xsl:template name="code-meaning">
<xsl:param name="code"/>
<xsl:choose>
<xsl:when test="$code = -1">No answer within 60 seconds</xsl:when>
<xsl:when test="$code = -2">Check cancelled</xsl:when>
<xsl:when test="$code = -3">Server error</xsl:when>
<xsl:when test="$code = -4">Malformed answer from the server</xsl:when>
<xsl:when test="$code = -5">Error receiving the stream</xsl:when>
<xsl:when test="$code = -6">Unreadable content type</xsl:when>
<xsl:when test="$code = -7">Request error</xsl:when>
<xsl:when test="$code = -96">Certificate Error</xsl:when>
<xsl:when test="$code = -99">Site not reachable (name not found or connection refused)</xsl:when>
<xsl:when test="$code &gt; 0">
<xsl:value-of select="$code"/>
<xsl:text> </xsl:text>
<xsl:choose>
<xsl:when test="$code = 303">See Other</xsl:when>
<xsl:when test="$code = 304">Not Modified</xsl:when>
<xsl:when test="$code = 307">Temporary Redirect</xsl:when>
<xsl:when test="$code = 308">Permanent Redirect</xsl:when>
<xsl:when test="$code = 400">Bad Request</xsl:when>
<xsl:when test="$code = 401">Unauthorized</xsl:when>
<xsl:when test="$code = 402">Payment Required</xsl:when>
<xsl:when test="$code = 403">Forbidden</xsl:when>
<xsl:when test="$code = 404">Not Found</xsl:when>
<xsl:when test="$code = 405">Method Not Allowed</xsl:when>
<xsl:when test="$code = 406">Not Acceptable</xsl:when>
<xsl:when test="$code = 407">Proxy Authentication Required</xsl:when>
<xsl:when test="$code = 408">Request Timeout</xsl:when>
<xsl:when test="$code = 409">Conflict</xsl:when>
<xsl:when test="$code = 410">Gone</xsl:when>
<xsl:when test="$code = 429">Too Many Requests</xsl:when>
<xsl:when test="$code = 451">Unavailable For Legal Reasons</xsl:when>
<xsl:when test="$code = 500">Internal Server Error</xsl:when>
<xsl:when test="$code = 502">Bad Gateway</xsl:when>
<xsl:when test="$code = 503">Service Unavailable</xsl:when>
<xsl:when test="$code = 504">Gateway Timeout</xsl:when>
<xsl:when test="$code = 505">HTTP Version Not Supported</xsl:when>
<xsl:when test="$code &lt; 400">Unexpected answer</xsl:when>
<xsl:when test="$code &lt; 500">Client Error</xsl:when>
<xsl:otherwise>Server Error</xsl:otherwise>
</xsl:choose>
</xsl:when>
<xsl:otherwise>Error <xsl:value-of select="$code"/></xsl:otherwise>
</xsl:choose>
</xsl:template>

</xsl:stylesheet>
