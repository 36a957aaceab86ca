<?xml version="1.0" encoding="ISO-8859-1"?>
<!-- The viewer: header, favourites grid and the hidden change watcher. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" version="1.0" encoding="UTF-8" indent="yes"/>
<xsl:param name="multi_page" select="''"/>

<xsl:template match="/">
<html>
<head>
<meta http-equiv="expires" content="0"/>
<meta http-equiv="Pragma" content="no-cache"/>
<title>Viewer</title>
</head>
<frameset>
<xsl:attribute name="rows">
<xsl:choose>
<xsl:when test="/BROWSERINFO/@HomePage = 'YES'">175,*,0</xsl:when>
<xsl:when test="$multi_page = 'yes'">100,*,0</xsl:when>
<xsl:otherwise>64,*,0</xsl:otherwise>
</xsl:choose>
</xsl:attribute>
<frame name="header" scrolling="no" noresize="true" target="main" frameborder="1" src="view_header.htm"/>
<frame name="mymain" frameborder="0" src="view.htm"/>
<frame name="dummy" scrolling="no" noresize="true" frameborder="0" target="main" src="reloader.htm"/>
<noframes>
<body>
<p>This page uses frames, but your browser doesn't support them.</p>
</body>
</noframes>
</frameset>
</html>
</xsl:template>

</xsl:stylesheet>
