<?xml version="1.0" encoding="ISO-8859-1"?>
<!-- The viewer's header: the old home page, the folder choice and the links to the editor and the history page. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" version="1.0" encoding="UTF-8" indent="yes"/>
<xsl:param name="p1" select="''"/>
<xsl:param name="multi_page" select="''"/>

<xsl:template match="/">
<html>
<script language="JavaScript" type="text/JavaScript">
var LoadTime = <xsl:value-of select="number(/BROWSERINFO/@Time)"/>;
var global_page = "Root";
<![CDATA[
function getStringVar(name) {
    var query = location.search;
    var at = query.indexOf(name + "=");
    if (at < 0)
        return "";
    var start = at + name.length + 1;
    var end = query.indexOf("&", start);
    if (end < 0)
        end = query.length;
    try {
        return decodeURIComponent(query.substring(start, end));
    } catch (e) {
        return unescape(query.substring(start, end));
    }
}

function getNumberVar(name) {
    var value = parseInt(getStringVar(name), 10);
    return isNaN(value) ? 0 : value;
}

// Page names of the folders. A folder's page is its Location without
// backslashes (the editor's with "edit" before it). A name that would be a
// fixed page, or the page of an earlier folder, gets "~2", "~3", ... after
// the folder part; long folder parts are cut at 200 UTF-8 bytes. The page
// writer names the files by the same rule, in the same folder order.
var fixedPages = ["viewer.htm", "view.htm", "editor.htm", "edit.htm", "view_header.htm",
                  "view_footer.htm", "edit_header.htm", "edit_footer.htm", "reloader.htm",
                  "history.htm", "overview.htm"];

function asciiLower(text) {
    return text.replace(/[A-Z]/g, function (c) { return c.toLowerCase(); });
}

function folderStem(location) {
    var stem = "";
    var bytes = 0;
    for (var ch of location.split("\\").join("")) {
        var code = ch.codePointAt(0);
        bytes += code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        if (bytes > 200)
            break;
        stem += ch;
    }
    return stem;
}

function optionLocation(option) {
    var location = option.getAttribute("data-location");
    if (location === null)
        location = option.value == "Root" ? "" : option.value;
    return location;
}

// The page stem of every option, in order; null for the top folder.
function pageStems(box) {
    var taken = Object.create(null);
    for (var i = 0; i < fixedPages.length; i++)
        taken[fixedPages[i]] = true;
    var stems = [];
    for (var i = 0; i < box.options.length; i++) {
        var location = optionLocation(box.options[i]);
        if (location == "") {
            stems.push(null);
            continue;
        }
        var base = folderStem(location);
        var stem = base;
        for (var n = 2; taken[asciiLower(stem + ".htm")] || taken[asciiLower("edit" + stem + ".htm")]; n++)
            stem = base + "~" + n;
        taken[asciiLower(stem + ".htm")] = true;
        taken[asciiLower("edit" + stem + ".htm")] = true;
        stems.push(stem);
    }
    return stems;
}

function folderBox() {
    var form = document.forms["view_head"];
    return form ? form.elements["DropDown"] : null;
}

// Shows the chosen folder's page in the main frame. The header remembers the
// option's index, so a reload by the change watcher keeps it selected.
function Change() {
    var box = folderBox();
    var index = box.selectedIndex;
    global_page = index;
    var stem = pageStems(box)[index];
    parent.frames["mymain"].location.href = stem === null ? "view.htm" : "" + encodeURIComponent(stem) + ".htm";
}

function reloader() {
    var address = location.href;
    var at = address.indexOf("page=");
    if (at > 0 && (address.charAt(at - 1) == "?" || address.charAt(at - 1) == "&")) {
        var end = address.indexOf("&", at);
        address = address.substring(0, at - 1) + (end < 0 ? "" : address.substring(end));
    }
    address += (address.indexOf("?") > 0 ? "&" : "?") + "page=" + global_page;
    parent.frames["header"].location.replace(address);
}

function setcombo() {
    global_page = getNumberVar("page");
]]>
<xsl:if test="$multi_page = 'yes'"><![CDATA[
    var box = folderBox();
    if (box && global_page >= 0 && global_page < box.options.length)
        box.selectedIndex = global_page;
]]></xsl:if>
<![CDATA[
}
]]>
</script>
<head>
<meta http-equiv="Content-Language" content="en-gb"/>
<meta http-equiv="Content-Type" content="text/html; charset=windows-1252"/>
<meta http-equiv="expires" content="0"/>
<meta http-equiv="Pragma" content="no-cache"/>
<title>Header</title>
</head>
<BODY onload="setcombo();" background="\_back.jpg">
<table>
<tr>
<td>
<xsl:if test="/BROWSERINFO/@HomePage = 'YES'">
<xsl:for-each select="/BROWSERINFO/Favoritesfolder/Folder/Link[@DESCRIPTION = '_Old Home Page']">
<table>
<tr><td><xsl:call-template name="favourite-link"><xsl:with-param name="content"><xsl:value-of select="."/><IMG src="{@IMAGE}"/></xsl:with-param></xsl:call-template></td></tr>
<tr><td><xsl:call-template name="favourite-link"><xsl:with-param name="content"><xsl:value-of select="."/><xsl:value-of select="@DESCRIPTION"/></xsl:with-param></xsl:call-template></td></tr>
</table>
</xsl:for-each>
</xsl:if>
</td>
<td>
<xsl:if test="$multi_page = 'yes'">
<FORM name="view_head">Change to new page: <select size="1" name="DropDown" onchange="Change()">
<xsl:for-each select="/BROWSERINFO/Favoritesfolder/Folder">
<option data-location="{@Location}">
<xsl:choose>
<xsl:when test="@Location = ''"><xsl:attribute name="value">Root</xsl:attribute>Root</xsl:when>
<xsl:otherwise><xsl:attribute name="value"><xsl:value-of select="@Location"/></xsl:attribute><xsl:value-of select="@Location"/></xsl:otherwise>
</xsl:choose>
</option>
</xsl:for-each>
</select>
</FORM>
</xsl:if>
Favourites Manager Edit Mode <a href="editor.htm" TARGET="_top">Manage Favourites</a><br/>
History Manager View Mode <a href="history.htm" TARGET="_top">Manage history</a> | <a href="overview.htm" TARGET="_top">All favourites on one page</a>
</td>
</tr>
</table>
</BODY>
</html>
</xsl:template>

<!-- A link to a favourite's address. An address that would run script with
     this page's origin (javascript:, data:, vbscript:, letter case and the
     blanks a browser ignores aside) is shown as text, never as a link. -->
<xsl:template name="favourite-link">
<xsl:param name="content"/>
<xsl:variable name="scheme" select="translate(substring-before(normalize-space(translate(@PID_IS_URL, '&#9;&#10;&#13;', '')), ':'), 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz')"/>
<xsl:choose>
<xsl:when test="$scheme = 'javascript' or $scheme = 'data' or $scheme = 'vbscript'"><span title="{@PID_IS_URL}"><xsl:copy-of select="$content"/></span></xsl:when>
<xsl:otherwise><A href="{@PID_IS_URL}" target="_top"><xsl:copy-of select="$content"/></A></xsl:otherwise>
</xsl:choose>
</xsl:template>

</xsl:stylesheet>
