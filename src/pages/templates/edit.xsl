<?xml version="1.0" encoding="ISO-8859-1"?>
<!-- The favourites edit form: one set of fields per favourite, posted as a
     whole by the editor's "Save Changes" button. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" version="1.0" encoding="UTF-8" indent="yes"/>
<xsl:param name="p1" select="''"/>
<xsl:param name="multi_page" select="''"/>

<xsl:variable name="folders" select="/BROWSERINFO/Favoritesfolder/Folder"/>

<xsl:template match="/">
<HTML>
<head>
<meta http-equiv="expires" content="0"/>
<meta http-equiv="Pragma" content="no-cache"/>
<!-- The Favorites folder itself and a top-level folder named Root are both
     offered as "Root"; each favourite's "Top" field says which one is
     chosen. The "Was" fields carry the values the page was built with, so
     that only what is changed on this page is applied. -->
<script language="JavaScript" type="text/JavaScript"><![CDATA[
function TopChoice(select) {
    var top = select.form.elements["Top" + select.name.substring(5)];
    if (top && select.selectedIndex >= 0)
        top.value = select.options[select.selectedIndex].getAttribute("data-top") == "yes" ? "yes" : "no";
}

function TopChoices() {
    var selects = document.getElementsByTagName("select");
    for (var i = 0; i < selects.length; i++)
        if (selects[i].name.indexOf("Combo") == 0)
            TopChoice(selects[i]);
}
]]></script>
</head>
<BODY background="\_back.jpg" onload="TopChoices();">
<FORM Method="POST" Name="myedit" ACtion="/cgi-bin/cgifrm1.exe">
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
</FORM>
</BODY>
</HTML>
</xsl:template>

<!-- One group of up to four favourites: picture, name, folder, organiser
     position and delete box, each row filled up to four cells. -->
<xsl:template name="group-rows">
<xsl:param name="group"/>
<xsl:variable name="missing" select="4 - count($group)"/>
<tr>
<xsl:for-each select="$group">
<td width="175"><p align="center"><xsl:call-template name="favourite-link"><xsl:with-param name="content"><xsl:value-of select="."/><IMG src="{@IMAGE}"/></xsl:with-param></xsl:call-template></p></td>
</xsl:for-each>
<xsl:call-template name="empty-cells"><xsl:with-param name="count" select="$missing"/></xsl:call-template>
</tr>
<tr>
<xsl:for-each select="$group">
<td width="175"><font face="Verdana" size="1"><b><p align="center"><TextArea rows="2" name="Edit{@UNIQUE}"><xsl:value-of select="@DESCRIPTION"/></TextArea><input type="hidden" name="WasEdit{@UNIQUE}" value="{@DESCRIPTION}"/></p></b></font></td>
</xsl:for-each>
<xsl:call-template name="empty-cells"><xsl:with-param name="count" select="$missing"/></xsl:call-template>
</tr>
<tr>
<xsl:for-each select="$group">
<xsl:variable name="here" select="../@Location"/>
<td width="175"><font face="Verdana" size="1"><p align="center"><select size="1" name="Combo{@UNIQUE}" onchange="TopChoice(this);">
<xsl:for-each select="$folders">
<option>
<xsl:attribute name="value"><xsl:call-template name="folder-value"/></xsl:attribute>
<xsl:if test="@Location = ''"><xsl:attribute name="data-top">yes</xsl:attribute></xsl:if>
<xsl:if test="@Location = $here"><xsl:attribute name="selected">yes</xsl:attribute></xsl:if>
<xsl:call-template name="folder-value"/>
</option>
</xsl:for-each>
</select><input type="hidden" name="Top{@UNIQUE}">
<xsl:attribute name="value"><xsl:choose><xsl:when test="$here = ''">yes</xsl:when><xsl:otherwise>no</xsl:otherwise></xsl:choose></xsl:attribute>
</input><input type="hidden" name="WasCombo{@UNIQUE}" value="{$here}"/></p></font></td>
</xsl:for-each>
<xsl:call-template name="empty-cells"><xsl:with-param name="count" select="$missing"/></xsl:call-template>
</tr>
<tr>
<xsl:for-each select="$group">
<td width="175"><font face="Verdana" size="1"><p align="center">I.E. Sort Order <Input type="Text" size="5" name="OB{@UNIQUE}" value="{@SORT_ORDER}"/><input type="hidden" name="WasOB{@UNIQUE}" value="{@SORT_ORDER}"/></p></font></td>
</xsl:for-each>
<xsl:call-template name="empty-cells"><xsl:with-param name="count" select="$missing"/></xsl:call-template>
</tr>
<tr>
<xsl:for-each select="$group">
<td width="175"><font face="Verdana" size="1"><input type="checkbox" value="deleteme" name="CB{@UNIQUE}"/>Delete Me<HR/></font></td>
</xsl:for-each>
<xsl:call-template name="empty-cells"><xsl:with-param name="count" select="$missing"/></xsl:call-template>
</tr>
</xsl:template>

<!-- A folder as the folder choice names it: its Location, "Root" for the
     top folder. -->
<xsl:template name="folder-value">
<xsl:choose>
<xsl:when test="@Location = ''">Root</xsl:when>
<xsl:otherwise><xsl:value-of select="@Location"/></xsl:otherwise>
</xsl:choose>
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
