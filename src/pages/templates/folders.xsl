<?xml version="1.0" encoding="ISO-8859-1"?>
<!-- The folder list: one Location per line, in catalogue order; the top
     folder is an empty line. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="text" version="1.0" encoding="UTF-8" indent="yes"/>

<xsl:template match="/">
<xsl:for-each select="BROWSERINFO/Favoritesfolder/Folder">
<xsl:value-of select="@Location"/><xsl:text>&#13;&#10;</xsl:text>
</xsl:for-each>
</xsl:template>

</xsl:stylesheet>
