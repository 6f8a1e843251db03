// On Windows the tools read the list with the DOM component the clients use.
#include "XmlList.h"

#include <windows.h>
#include <msxml.h>
#include <objbase.h>

#include "ComHolders.h"
#include "ReleaseFolder.h"
#include "Utf8.h"
#include "XmlLines.h"

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

// The elements in document order, numbered as the walk meets them, with the
// lines of their start tags; nothing where the two disagree.
class CLineBook {
public:
    explicit CLineBook(std::vector<XmlStartTag> tags) : m_tags(std::move(tags)) {}

    int LineOf(std::size_t index, const std::wstring& name)
    {
        if (index < m_tags.size() && WideFromUtf8(m_tags[index].name) == name)
            return m_tags[index].line;
        m_agrees = false;
        return 0;
    }
    bool Agrees() const { return m_agrees; }

private:
    std::vector<XmlStartTag> m_tags;
    bool m_agrees = true;
};

// Walks the elements below node in document order. fileIndex is the entry of
// out that node is, when it is a File element: its direct children are its values.
void Walk(IXMLDOMNode* node, std::ptrdiff_t fileIndex, bool insideFile, std::vector<XmlFileElement>& out,
          CLineBook& lines, std::size_t& counter)
{
    CComPtr<IXMLDOMNode> child;
    HRESULT hr = node->get_firstChild(child.Receive());
    while (hr == S_OK && child) {
        if (IsElement(child.Get())) {
            const std::size_t index = ++counter;
            const std::wstring name = NameOf(child.Get());
            const int line = lines.LineOf(index, name);
            if (fileIndex >= 0) {
                XmlChild value;
                value.name = name;
                value.line = line;
                CBstr text;
                if (SUCCEEDED(child->get_text(text.Receive())))
                    value.text = text.Text();
                out[static_cast<std::size_t>(fileIndex)].children.push_back(std::move(value));
            }
            const bool isFile = name == L"File";
            std::ptrdiff_t entry = -1;
            if (isFile) {
                XmlFileElement element;
                element.line = line;
                element.insideFile = insideFile;
                out.push_back(std::move(element));
                entry = static_cast<std::ptrdiff_t>(out.size()) - 1;
            }
            Walk(child.Get(), entry, insideFile || isFile, out, lines, counter);
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
        // The component names the line where it can; where it cannot, the nesting of the tags may.
        error = "not well-formed XML (the XML component names no line)";
        CComPtr<IXMLDOMParseError> parseError;
        long line = 0;
        std::vector<std::uint8_t> bytes;
        if (SUCCEEDED(document->get_parseError(parseError.Receive())) && parseError &&
            SUCCEEDED(parseError->get_line(&line)) && line > 0) {
            CBstr reason;
            std::string why = "not well-formed XML";
            if (SUCCEEDED(parseError->get_reason(reason.Receive())) && !reason.Text().empty()) {
                why = Utf8FromWide(reason.Text());
                while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' '))
                    why.pop_back();
            }
            error = "line " + std::to_string(line) + ": " + why;
        } else if (!ReadWholeFile(path, bytes)) {
            error = "cannot be read";
        } else {
            const std::string fault =
                FindNestingFault(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
            if (!fault.empty())
                error = fault;
        }
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
    std::vector<std::uint8_t> bytes;
    ReadWholeFile(path, bytes);
    CLineBook lines(ScanStartTags(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
    std::size_t counter = 0;
    lines.LineOf(0, NameOf(rootNode.Get()));
    Walk(rootNode.Get(), -1, false, elements, lines, counter);
    if (!lines.Agrees()) {
        for (XmlFileElement& e : elements) {
            e.line = 0;
            for (XmlChild& c : e.children)
                c.line = 0;
        }
    }
    return true;
}
