<?xml version="1.0" encoding="ISO-8859-1"?>
<!-- The editor's buttons: back to the viewer, post the edit form, discard. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" version="1.0" encoding="UTF-8" indent="yes"/>
<xsl:param name="multi_page" select="''"/>

<xsl:template match="/">
<html>
<head>
<meta http-equiv="expires" content="0"/>
<meta http-equiv="Pragma" content="no-cache"/>
<title>Controls</title>
</head>
<body background="\_back.jpg">
<form method="POST">
<p>
<input type="button" value="Back to View Mode" name="B3" onclick="parent.location.href = 'viewer.htm';"/>
<input type="button" value="Save Changes" name="B1" onclick="parent.frames['mymain'].document.forms['myedit'].submit();"/>
<input type="reset" value="Discard Chages" name="B2" onclick="parent.frames['mymain'].location.reload();"/>
</p>
</form>
</body>
</html>
</xsl:template>

</xsl:stylesheet>
