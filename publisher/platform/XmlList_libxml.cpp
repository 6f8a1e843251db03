// Natively, libxml2 stands in for the clients' DOM component.
#include "XmlList.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <utility>
#include <vector>

#include "Utf8.h"

namespace {

std::wstring Text(const xmlChar* text)
{
    return text ? WideFromUtf8(reinterpret_cast<const char*>(text)) : std::wstring();
}

// The qualified name, as the DOM component's nodeName gives it.
std::wstring QualifiedName(const xmlNode* node)
{
    std::wstring name;
    if (node->ns && node->ns->prefix) {
        name = Text(node->ns->prefix);
        name += L':';
    }
    name += Text(node->name);
    return name;
}

// The text below a node in document order: each piece, and whether it came
// from a CDATA section.
void Gather(const xmlNode* node, std::vector<std::pair<std::string, bool>>& parts)
{
    for (const xmlNode* n = node->children; n; n = n->next) {
        switch (n->type) {
        case XML_TEXT_NODE:
            if (n->content)
                parts.emplace_back(reinterpret_cast<const char*>(n->content), false);
            break;
        case XML_CDATA_SECTION_NODE:
            if (n->content)
                parts.emplace_back(reinterpret_cast<const char*>(n->content), true);
            break;
        case XML_ELEMENT_NODE:
        case XML_ENTITY_REF_NODE:
            Gather(n, parts);
            break;
        default: break;
        }
    }
}

bool IsXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The text of an element as the clients' DOM component gives it: all the text
// below it, without the white space of text nodes at either end; what a CDATA
// section holds stays, and so does everything under xml:space="preserve".
std::wstring DomText(const xmlNode* element)
{
    std::vector<std::pair<std::string, bool>> parts;
    Gather(element, parts);
    if (xmlNodeGetSpacePreserve(element) != 1) {
        for (auto it = parts.begin(); it != parts.end() && !it->second; ++it) {
            std::string& t = it->first;
            std::size_t i = 0;
            while (i < t.size() && IsXmlSpace(t[i]))
                ++i;
            t.erase(0, i);
            if (!t.empty())
                break;
        }
        for (auto it = parts.rbegin(); it != parts.rend() && !it->second; ++it) {
            std::string& t = it->first;
            while (!t.empty() && IsXmlSpace(t.back()))
                t.pop_back();
            if (!t.empty())
                break;
        }
    }
    std::string text;
    for (const auto& part : parts)
        text += part.first;
    return WideFromUtf8(text);
}

void Collect(const xmlNode* node, bool insideFile, std::vector<XmlFileElement>& out)
{
    for (const xmlNode* n = node->children; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE)
            continue;
        const bool isFile = QualifiedName(n) == L"File";
        if (isFile) {
            XmlFileElement element;
            element.line = static_cast<int>(xmlGetLineNo(n));
            element.insideFile = insideFile;
            for (const xmlNode* c = n->children; c; c = c->next) {
                if (c->type != XML_ELEMENT_NODE)
                    continue;
                XmlChild child;
                child.name = QualifiedName(c);
                child.text = DomText(c);
                child.line = static_cast<int>(xmlGetLineNo(c));
                element.children.push_back(std::move(child));
            }
            out.push_back(std::move(element));
        }
        Collect(n, insideFile || isFile, out);
    }
}

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

} // namespace

bool ReadXmlList(const std::filesystem::path& path, std::vector<XmlFileElement>& elements, std::string& error)
{
    // No network, no external entities: the list names local files only.
    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE));
    if (!doc) {
        const xmlError* e = xmlGetLastError();
        if (e && e->message) {
            std::string message = e->message;
            while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
                message.pop_back();
            error = (e->line > 0 ? "line " + std::to_string(e->line) + ": " : std::string()) + message;
        } else {
            error = "cannot be read as XML";
        }
        return false;
    }
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root) {
        error = "the document has no root element";
        return false;
    }
    Collect(root, false, elements);
    return true;
}
