<?xml version="1.0" encoding="ISO-8859-1"?>
<!-- The editor: header, edit form and the buttons that post it. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" version="1.0" encoding="UTF-8" indent="yes"/>
<xsl:param name="multi_page" select="''"/>

<xsl:template match="/">
<html>
<head>
<meta http-equiv="expires" content="0"/>
<meta http-equiv="Pragma" content="no-cache"/>
<title>Editor</title>
</head>
<frameset>
<xsl:attribute name="rows">
<xsl:choose>
<xsl:when test="$multi_page = 'yes'">100,*,64</xsl:when>
<xsl:otherwise>64,*,64</xsl:otherwise>
</xsl:choose>
</xsl:attribute>
<frame name="header" scrolling="no" noresize="true" target="contents" src="edit_header.htm"/>
<frame name="mymain" src="edit.htm"/>
<frame name="footer" scrolling="no" noresize="true" target="contents" src="edit_footer.htm"/>
<noframes>
<body>
<p>This page uses frames, but your browser doesn't support them.</p>
</body>
</noframes>
</frameset>
</html>
</xsl:template>

</xsl:stylesheet>
