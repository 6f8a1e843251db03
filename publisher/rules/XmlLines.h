#pragma once

#include <string>
#include <string_view>
#include <vector>

// The element start tags of an XML document in document order, with the line
// each begins on, read from the document's bytes (UTF-8 or another encoding
// that keeps ASCII as it is). Comments, CDATA sections, processing
// instructions and the document type declaration are stepped over. The DOM
// component gives its nodes no line; the n-th element of its walk in document
// order is the n-th start tag here, which is how the Windows build names lines.
struct XmlStartTag {
    std::string name; // qualified name as written
    int line = 0;     // from 1
};

std::vector<XmlStartTag> ScanStartTags(std::string_view bytes);

// The first fault in the nesting of the tags (an end tag that closes another
// element or none, an element still open at the end), as "line N: what"; empty
// when the nesting is sound. For a reader whose component names no line.
std::string FindNestingFault(std::string_view bytes);
