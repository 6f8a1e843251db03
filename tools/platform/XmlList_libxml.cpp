// Natively, libxml2 stands in for the clients' DOM component.
#include "XmlList.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>

#include "Utf8.h"

const bool XML_LIST_HAS_LINES = true;

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
                xmlChar* content = xmlNodeGetContent(c);
                child.text = Text(content);
                xmlFree(content);
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
