<?xml version="1.0" encoding="ISO-8859-1"?>
<!-- The favourites grid: every folder, or only the folder named by p1 when
     each folder has a page of its own. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" version="1.0" encoding="UTF-8" indent="yes"/>
<xsl:param name="p1" select="''"/>
<xsl:param name="multi_page" select="''"/>

<xsl:variable name="hideHome" select="/BROWSERINFO/@HomePage = 'YES'"/>

<xsl:template match="/">
<HTML>
<script language="JavaScript" type="text/JavaScript">
var LoadTime = <xsl:value-of select="number(/BROWSERINFO/@Time)"/>;
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

// Drops an earlier "name=value" pair, from the character before the name
// up to the next "&".
function dropPair(address, name) {
    var at = address.indexOf(name + "=");
    if (at < 1)
        return address;
    var end = address.indexOf("&", at);
    return address.substring(0, at - 1) + (end < 0 ? "" : address.substring(end));
}

function reloader() {
    var frame = parent.frames["mymain"];
    var doc = frame.document;
    var x, y;
    if (typeof frame.pageXOffset == "number") {
        x = frame.pageXOffset;
        y = frame.pageYOffset;
    } else if (!doc.compatMode || doc.compatMode == "BackCompat") {
        x = doc.body.scrollLeft;
        y = doc.body.scrollTop;
    } else {
        x = doc.documentElement.scrollLeft;
        y = doc.documentElement.scrollTop;
    }
    var address = dropPair(dropPair(location.href, "xScroll"), "yScroll");
    address += (address.indexOf("?") > 0 ? "&" : "?") + "xScroll=" + x + "&" + "yScroll=" + y;
    frame.location.replace(address);
}

function setScroll() {
    var x = getNumberVar("xScroll");
    var y = getNumberVar("yScroll");
    if (x <= 0 && y <= 0)
        return;
    var frame = parent.frames["mymain"] || window;
    var doc = frame.document;
    if (top.opera && typeof frame.pageYOffset == "number") {
        frame.scrollTo(x, y);
    } else if (doc.compatMode && doc.compatMode != "BackCompat") {
        doc.documentElement.scrollLeft = x;
        doc.documentElement.scrollTop = y;
    } else if (doc.body && typeof doc.body.scrollTop == "number") {
        doc.body.scrollLeft = x;
        doc.body.scrollTop = y;
    } else {
        frame.scrollTo(x, y);
    }
}
]]>
</script>
<head>
<meta http-equiv="expires" content="0"/>
<meta http-equiv="Pragma" content="no-cache"/>
</head>
<BODY onload="setScroll();" background="\_back.jpg">
<xsl:for-each select="BROWSERINFO/Favoritesfolder/Folder[@Location = $p1 or $multi_page = '']">
<table>
<xsl:for-each select="Link[position() mod 4 = 1]">
<xsl:call-template name="group-rows">
<xsl:with-param name="group" select=". | following-sibling::Link[position() &lt; 4]"/>
</xsl:call-template>
</xsl:for-each>
</table>
<HR/>
</xsl:for-each>
</BODY>
</HTML>
</xsl:template>

<!-- One group of up to four links: pictures, names and folders, each row
     filled up to four cells. The old home page shown in the header keeps
     its place in the group and only loses its cells. -->
<xsl:template name="group-rows">
<xsl:param name="group"/>
<xsl:variable name="missing" select="4 - count($group)"/>
<xsl:variable name="cells" select="$group[not($hideHome and @DESCRIPTION = '_Old Home Page')]"/>
<tr>
<xsl:for-each select="$cells">
<td width="175"><xsl:call-template name="picture-link"/></td>
</xsl:for-each>
<xsl:call-template name="empty-cells"><xsl:with-param name="count" select="$missing"/></xsl:call-template>
</tr>
<tr>
<xsl:for-each select="$cells">
<td width="175"><font face="Verdana" size="2"><b><xsl:call-template name="title-link"/></b></font></td>
</xsl:for-each>
<xsl:call-template name="empty-cells"><xsl:with-param name="count" select="$missing"/></xsl:call-template>
</tr>
<tr>
<xsl:for-each select="$cells">
<td width="175"><font face="Verdana" size="1"><xsl:value-of select="../@Location"/></font></td>
</xsl:for-each>
<xsl:call-template name="empty-cells"><xsl:with-param name="count" select="$missing"/></xsl:call-template>
</tr>
</xsl:template>

<xsl:template name="picture-link">
<xsl:call-template name="favourite-link"><xsl:with-param name="content"><xsl:value-of select="."/><IMG src="{@IMAGE}"/></xsl:with-param></xsl:call-template>
</xsl:template>

<xsl:template name="title-link">
<xsl:call-template name="favourite-link"><xsl:with-param name="content"><xsl:value-of select="."/><xsl:value-of select="@DESCRIPTION"/></xsl:with-param></xsl:call-template>
</xsl:template>

<xsl:template name="empty-cells">
<xsl:param name="count"/>
<xsl:if test="$count &gt; 0">
<td width="175">&#160;</td>
<xsl:call-template name="empty-cells"><xsl:with-param name="count" select="$count - 1"/></xsl:call-template>
</xsl:if>
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
