<?xml version="1.0" encoding="UTF-8"?>
<!-- The peer of examples/templates/story.tmpl with examples/templates/story.xlate: the same
     page from the same story, written as an XSLT 1.0 stylesheet. The metadata document is
     read through document('urn:story-metadata'), which the benchmark maps to the story's
     RDF bytes in memory. Body markup follows the translation table: listed elements become
     their HTML counterparts, every other element is removed and its text kept. -->
<xsl:stylesheet version="1.0"
    xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:m="http://www.veltrane.com/namespaces/meta#">
<xsl:output method="html" encoding="UTF-8" indent="no"/>
<xsl:strip-space elements=""/>

<xsl:variable name="meta" select="document('urn:story-metadata')/m:Resource"/>
<xsl:variable name="head" select="/nitf/body/body.head"/>
<xsl:variable name="series" select="$head/series"/>

<xsl:template match="/">
<xsl:text disable-output-escaping="yes">&lt;!DOCTYPE html&gt;&#10;</xsl:text>
<html lang="{$meta/m:language[1]}"><xsl:if test="not($meta/m:language[1])"><xsl:attribute name="lang">en</xsl:attribute></xsl:if><xsl:text>&#10;</xsl:text>
<head><xsl:text>&#10;</xsl:text>
<meta charset="utf-8"/><xsl:text>&#10;</xsl:text>
<meta name="viewport" content="width=device-width, initial-scale=1"/><xsl:text>&#10;</xsl:text>
<title><xsl:apply-templates select="$head/hedline/hl1[1]/node()" mode="body"/></title><xsl:text>&#10;</xsl:text>
<style>
  body { margin: 0; background: #f4f1ea; color: #222; font: 17px/1.6 Georgia, "Times New Roman", serif; }
  article { max-width: 42em; margin: 2em auto; padding: 1.5em 2em 2em; background: #fff;
            border-top: 6px solid #7a1f1f; box-shadow: 0 1px 4px rgba(0, 0, 0, .15); }
  header { border-bottom: 1px solid #ddd; margin-bottom: 1.2em; padding-bottom: .8em; }
  h1 { font-size: 2em; line-height: 1.2; margin: .2em 0 .4em; }
  h2 { font-size: 1.25em; margin: 1.4em 0 .4em; }
  .series, .meta, .dateline, .credit, .tagline, figcaption { font-family: Helvetica, Arial, sans-serif; }
  .series { margin: 0; color: #7a1f1f; font-size: .8em; letter-spacing: .08em; text-transform: uppercase; }
  .subhead { margin: .2em 0; font-size: 1.1em; font-style: italic; color: #444; }
  .bylines { list-style: none; margin: .8em 0 0; padding: 0; font-size: .9em; }
  .person { font-weight: bold; }
  .byttl { color: #666; }
  .meta { font-size: .8em; color: #666; margin: .4em 0 0; }
  .dateline { font-weight: bold; font-size: .8em; letter-spacing: .04em; margin: 0 0 .6em; }
  figure.media { margin: 1.4em 0; padding: .6em; background: #eee; }
  figcaption { font-size: .85em; }
  .credit { display: block; font-size: .75em; color: #666; }
  table { border-collapse: collapse; margin: 1.2em 0; width: 100%; font-size: .9em; }
  caption { text-align: left; font-weight: bold; padding-bottom: .3em; }
  th, td { border-bottom: 1px solid #ccc; padding: .3em .5em; text-align: left; }
  blockquote { margin: 1.2em 0; padding-left: 1em; border-left: 4px solid #7a1f1f; color: #444; }
  .keywords { list-style: none; padding: 0; }
  .keywords li { display: inline-block; margin: 0 .4em .4em 0; padding: 0 .6em;
                 border-radius: 1em; background: #eee; font-size: .8em; }
  footer { border-top: 1px solid #ddd; margin-top: 1.5em; font-size: .9em; }
  .tagline { font-style: italic; }
</style><xsl:text>&#10;</xsl:text>
</head><xsl:text>&#10;</xsl:text>
<body><xsl:text>&#10;</xsl:text>
<article data-story-id="{$meta/m:storyid[1]}"><xsl:text>&#10;</xsl:text>
<header><xsl:text>&#10;</xsl:text>
<xsl:if test="string($series/@series.name)">
  <p class="series"><xsl:value-of select="$series/@series.name"/>
    <xsl:if test="string($series/@series.part)">, part <xsl:value-of select="$series/@series.part"/>
      <xsl:if test="string($series/@series.totalpart)"> of <xsl:value-of select="$series/@series.totalpart"/></xsl:if>
    </xsl:if>
  </p><xsl:text>&#10;</xsl:text>
</xsl:if>
<h1><xsl:apply-templates select="$head/hedline/hl1[1]/node()" mode="body"/></h1><xsl:text>&#10;</xsl:text>
<xsl:for-each select="$head/hedline/hl2">
  <p class="subhead"><xsl:apply-templates select="node()" mode="body"/></p><xsl:text>&#10;</xsl:text>
</xsl:for-each>
<xsl:choose>
  <xsl:when test="$head/byline">
    <ul class="bylines"><xsl:text>&#10;</xsl:text>
    <xsl:for-each select="$head/byline">
      <xsl:text>  </xsl:text><li><xsl:apply-templates select="node()" mode="body"/></li><xsl:text>&#10;</xsl:text>
    </xsl:for-each>
    </ul><xsl:text>&#10;</xsl:text>
  </xsl:when>
  <xsl:otherwise><p class="bylines">Staff report</p><xsl:text>&#10;</xsl:text></xsl:otherwise>
</xsl:choose>
<p class="meta">
  <xsl:choose>
    <xsl:when test="string($meta/m:category[1])"><xsl:value-of select="$meta/m:category[1]"/></xsl:when>
    <xsl:otherwise>News</xsl:otherwise>
  </xsl:choose>
  <xsl:if test="string($meta/m:released[1])"> · released <time datetime="{$meta/m:released[1]}"><xsl:value-of select="$meta/m:released[1]"/></time></xsl:if>
  <xsl:if test="string($head/distributor[1])"> · <xsl:apply-templates select="$head/distributor[1]/node()" mode="body"/></xsl:if>
  <xsl:if test="string($meta/m:priority[1])"> · priority <xsl:value-of select="$meta/m:priority[1]"/></xsl:if>
</p><xsl:text>&#10;</xsl:text>
</header><xsl:text>&#10;</xsl:text>
<xsl:variable name="date" select="$head/dateline[1]/story.date[1]"/>
<xsl:if test="string($date)">
  <p class="dateline">
    <xsl:if test="string($head/dateline[1]/location[1])"><xsl:apply-templates select="$head/dateline[1]/location[1]/node()" mode="body"/>, </xsl:if>
    <xsl:apply-templates select="$date/node()" mode="body"/>
  </p><xsl:text>&#10;</xsl:text>
</xsl:if>
<div class="story-body"><xsl:text>&#10;</xsl:text>
<xsl:apply-templates select="/nitf/body/body.content[1]/node()" mode="body"/><xsl:text>&#10;</xsl:text>
</div><xsl:text>&#10;</xsl:text>
<xsl:variable name="tagline" select="/nitf/body/body.end[1]/tagline[1]"/>
<xsl:if test="string($tagline)">
  <footer><xsl:text>&#10;</xsl:text>
  <p class="tagline"><xsl:apply-templates select="$tagline/node()" mode="body"/></p><xsl:text>&#10;</xsl:text>
  </footer><xsl:text>&#10;</xsl:text>
</xsl:if>
<xsl:if test="$meta/m:keyword">
  <ul class="keywords"><xsl:text>&#10;</xsl:text>
  <xsl:for-each select="$meta/m:keyword">
    <xsl:text>  </xsl:text><li><xsl:value-of select="."/></li><xsl:text>&#10;</xsl:text>
  </xsl:for-each>
  </ul><xsl:text>&#10;</xsl:text>
</xsl:if>
</article><xsl:text>&#10;</xsl:text>
</body><xsl:text>&#10;</xsl:text>
</html><xsl:text>&#10;</xsl:text>
</xsl:template>

<!-- Body markup: the translation table. -->
<xsl:template match="*" mode="body"><xsl:apply-templates mode="body"/></xsl:template>
<xsl:template match="block" mode="body"><div class="block"><xsl:apply-templates mode="body"/></div></xsl:template>
<xsl:template match="p" mode="body"><p><xsl:apply-templates mode="body"/></p></xsl:template>
<xsl:template match="hl2" mode="body"><h2><xsl:apply-templates mode="body"/></h2></xsl:template>
<xsl:template match="br" mode="body"><br/><xsl:apply-templates mode="body"/></xsl:template>
<xsl:template match="hr" mode="body"><hr/><xsl:apply-templates mode="body"/></xsl:template>
<xsl:template match="pre" mode="body"><pre><xsl:apply-templates mode="body"/></pre></xsl:template>
<xsl:template match="bq" mode="body"><blockquote><xsl:apply-templates mode="body"/></blockquote></xsl:template>
<xsl:template match="credit" mode="body"><cite><xsl:apply-templates mode="body"/></cite></xsl:template>
<xsl:template match="em" mode="body"><em><xsl:apply-templates mode="body"/></em></xsl:template>
<xsl:template match="strong" mode="body"><strong><xsl:apply-templates mode="body"/></strong></xsl:template>
<xsl:template match="q" mode="body"><q><xsl:apply-templates mode="body"/></q></xsl:template>
<xsl:template match="a" mode="body"><a><xsl:copy-of select="@*"/><xsl:apply-templates mode="body"/></a></xsl:template>
<xsl:template match="person" mode="body"><span class="person"><xsl:apply-templates mode="body"/></span></xsl:template>
<xsl:template match="org" mode="body"><span class="org"><xsl:apply-templates mode="body"/></span></xsl:template>
<xsl:template match="ul" mode="body"><ul><xsl:apply-templates mode="body"/></ul></xsl:template>
<xsl:template match="ol" mode="body"><ol><xsl:apply-templates mode="body"/></ol></xsl:template>
<xsl:template match="li" mode="body"><li><xsl:apply-templates mode="body"/></li></xsl:template>
<xsl:template match="dl" mode="body"><dl><xsl:apply-templates mode="body"/></dl></xsl:template>
<xsl:template match="dt" mode="body"><dt><xsl:apply-templates mode="body"/></dt></xsl:template>
<xsl:template match="dd" mode="body"><dd><xsl:apply-templates mode="body"/></dd></xsl:template>
<xsl:template match="table" mode="body"><table><xsl:apply-templates mode="body"/></table></xsl:template>
<xsl:template match="caption" mode="body"><caption><xsl:apply-templates mode="body"/></caption></xsl:template>
<xsl:template match="thead" mode="body"><thead><xsl:apply-templates mode="body"/></thead></xsl:template>
<xsl:template match="tbody" mode="body"><tbody><xsl:apply-templates mode="body"/></tbody></xsl:template>
<xsl:template match="tr" mode="body"><tr><xsl:apply-templates mode="body"/></tr></xsl:template>
<xsl:template match="th" mode="body"><th><xsl:copy-of select="@*"/><xsl:apply-templates mode="body"/></th></xsl:template>
<xsl:template match="td" mode="body"><td><xsl:copy-of select="@*"/><xsl:apply-templates mode="body"/></td></xsl:template>
<xsl:template match="media" mode="body"><figure class="media"><xsl:apply-templates mode="body"/></figure></xsl:template>
<xsl:template match="media-caption" mode="body"><figcaption><xsl:apply-templates mode="body"/></figcaption></xsl:template>
<xsl:template match="media-producer" mode="body"><small class="credit"><xsl:apply-templates mode="body"/></small></xsl:template>
<xsl:template match="media-reference | note" mode="body"/>
</xsl:stylesheet>
