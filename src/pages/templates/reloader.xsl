<?xml version="1.0" encoding="ISO-8859-1"?>
<!-- The change watcher: reloads itself every 10 seconds and, when the
     catalogue on the server is newer than the pages on show, reloads the
     grid (keeping its scroll position) and the header. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" version="1.0" encoding="UTF-8" indent="yes"/>

<xsl:template match="/">
<META HTTP-EQUIV="Refresh" CONTENT="10; URL=http://localhost/reloader.htm"/>
<script language="JavaScript" type="text/JavaScript">
var LocalTime = <xsl:value-of select="number(/BROWSERINFO/@Time)"/>;
<![CDATA[
// A frame showing a page of another origin cannot be read; such a frame
// is simply left alone.
function reloadWhenOld(name) {
    try {
        var frame = parent.frames[name];
        if (frame && frame.LoadTime != LocalTime && frame.LoadTime > 0)
            frame.reloader();
    } catch (e) {
    }
}

function update() {
    reloadWhenOld("mymain");
    reloadWhenOld("header");
}
]]>
</script>
<HTML>
<head>
<meta http-equiv="expires" content="0"/>
<meta http-equiv="Pragma" content="no-cache"/>
</head>
<body onLoad="update()"></body>
</HTML>
</xsl:template>

</xsl:stylesheet>
