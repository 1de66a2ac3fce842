#pragma once

// The document that the expression and path targets search: elements with and without
// attributes, repeated names at several depths, text, CDATA, a comment, an escaped apostrophe.

namespace fuzzsupport {

inline constexpr const char* FixedDocument = R"(<?xml version="1.0"?>
<config version="2">
  <group name="g1">
    <item id="a" color="red"><name>x</name><brand>acme</brand></item>
    <item id="b" color="blue"><name>y</name></item>
  </group>
  <group name="g2">
    <item id="c" t="it&apos;s"><name>x</name></item>
    <entry/>
    <group name="inner"><item id="f"><name><![CDATA[z<z]]></name></item></group>
  </group>
  <item id="d" a="1" b="2" c="3"/>
  <item id="e" a="0" b="2" c="0">text<sub/>more</item>
  <!-- a comment -->
  <settings><setting key="proxy" value="on"/><setting key="port" value="8080"/></settings>
</config>
)";

} // namespace fuzzsupport
