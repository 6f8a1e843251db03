// On Windows the tools read the list with the DOM component the clients use.
#include "XmlList.h"

#include <windows.h>
#include <msxml.h>
#include <objbase.h>

#include "ComHolders.h"

const bool XML_LIST_HAS_LINES = false;

namespace {

const CLSID CLSID_DOM_DOCUMENT = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID IID_XML_DOM_DOCUMENT = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

std::wstring NameOf(IXMLDOMNode* node)
{
    CBstr name;
    if (FAILED(node->get_nodeName(name.Receive())))
        return std::wstring();
    return name.Text();
}

bool IsElement(IXMLDOMNode* node)
{
    DOMNodeType type = NODE_INVALID;
    return SUCCEEDED(node->get_nodeType(&type)) && type == NODE_ELEMENT;
}

void Collect(IXMLDOMNode* node, bool insideFile, std::vector<XmlFileElement>& out)
{
    CComPtr<IXMLDOMNode> child;
    HRESULT hr = node->get_firstChild(child.Receive());
    while (hr == S_OK && child) {
        if (IsElement(child.Get())) {
            const bool isFile = NameOf(child.Get()) == L"File";
            if (isFile) {
                XmlFileElement element;
                element.insideFile = insideFile;
                CComPtr<IXMLDOMNode> c;
                HRESULT chr = child->get_firstChild(c.Receive());
                while (chr == S_OK && c) {
                    if (IsElement(c.Get())) {
                        XmlChild value;
                        value.name = NameOf(c.Get());
                        CBstr text;
                        if (SUCCEEDED(c->get_text(text.Receive())))
                            value.text = text.Text();
                        element.children.push_back(std::move(value));
                    }
                    CComPtr<IXMLDOMNode> next;
                    chr = c->get_nextSibling(next.Receive());
                    c = std::move(next);
                }
                out.push_back(std::move(element));
            }
            Collect(child.Get(), insideFile || isFile, out);
        }
        CComPtr<IXMLDOMNode> next;
        hr = child->get_nextSibling(next.Receive());
        child = std::move(next);
    }
}

} // namespace

bool ReadXmlList(const std::filesystem::path& path, std::vector<XmlFileElement>& elements, std::string& error)
{
    CComInit com;
    CComPtr<IXMLDOMDocument> document;
    if (FAILED(::CoCreateInstance(CLSID_DOM_DOCUMENT, nullptr, CLSCTX_INPROC_SERVER, IID_XML_DOM_DOCUMENT,
                                  document.ReceiveVoid())) ||
        !document) {
        error = "the XML DOM component cannot be created";
        return false;
    }
    document->put_async(VARIANT_FALSE);
    document->put_resolveExternals(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    CVariant source;
    if (!source.SetString(path.wstring())) {
        error = "out of memory";
        return false;
    }
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(document->load(source.Get(), &loaded)) || loaded != VARIANT_TRUE) {
        error = "cannot be read as XML";
        CComPtr<IXMLDOMParseError> parseError;
        long line = 0;
        if (SUCCEEDED(document->get_parseError(parseError.Receive())) && parseError &&
            SUCCEEDED(parseError->get_line(&line)) && line > 0)
            error = "line " + std::to_string(line) + ": not well-formed XML";
        return false;
    }
    CComPtr<IXMLDOMElement> root;
    if (FAILED(document->get_documentElement(root.Receive())) || !root) {
        error = "the document has no root element";
        return false;
    }
    CComPtr<IXMLDOMNode> rootNode;
    if (FAILED(root->QueryInterface(IID_IXMLDOMNode, rootNode.ReceiveVoid())) || !rootNode) {
        error = "the root element cannot be walked";
        return false;
    }
    Collect(rootNode.Get(), false, elements);
    return true;
}
