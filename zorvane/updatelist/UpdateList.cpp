#include "UpdateList.h"

#include <msxml.h>

#include <memory>
#include <mutex>
#include <new>

#include "ComHolders.h"
#include "File.h"
#include "ListRules.h"
#include "WinApp.h"

namespace {

// mingw-w64 ships no definitions of these two.
const CLSID CLSID_DOM_DOCUMENT = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID IID_XML_DOM_DOCUMENT = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// A folder that GetWindowsDirectoryW or GetSystemDirectoryW report, however long.
template <typename Query>
std::wstring QueryFolder(Query query)
{
    std::wstring folder(MAX_PATH, L'\0');
    UINT n = query(&folder[0], static_cast<UINT>(folder.size()));
    if (n >= folder.size()) {
        folder.assign(n, L'\0');
        n = query(&folder[0], static_cast<UINT>(folder.size()));
        if (n >= folder.size())
            n = 0;
    }
    folder.resize(n);
    return folder;
}

// Stores the value of every direct child element of one File element.
void ReadChildren(IXMLDOMNode* element, CFileEntry& entry)
{
    CComPtr<IXMLDOMNode> child;
    HRESULT hr = element->get_firstChild(child.Receive());
    while (hr == S_OK && child) {
        // Text, comments, processing instructions and CDATA between the elements carry nothing.
        DOMNodeType type = NODE_INVALID;
        if (SUCCEEDED(child->get_nodeType(&type)) && type == NODE_ELEMENT) {
            CBstr name;
            CBstr text;
            if (SUCCEEDED(child->get_nodeName(name.Receive())) && SUCCEEDED(child->get_text(text.Receive())))
                entry.SetValue(name.Text(), text.Text());
        }
        CComPtr<IXMLDOMNode> next;
        hr = child->get_nextSibling(next.Receive());
        child = std::move(next);
    }
}

} // namespace

CUpdateList::CUpdateList()
{
    m_moduleFolder = AfxModulePath();
    const std::size_t slash = m_moduleFolder.find_last_of(L'\\');
    m_moduleFolder.resize(slash == std::wstring::npos ? 0 : slash);
    m_windowsFolder = QueryFolder([](wchar_t* b, UINT n) { return ::GetWindowsDirectoryW(b, n); });
    m_systemFolder = QueryFolder([](wchar_t* b, UINT n) { return ::GetSystemDirectoryW(b, n); });
}

const std::wstring& CUpdateList::BaseFolderFor(const std::wstring& installDir) const
{
    switch (SelectBaseFolder(installDir)) {
    case BASE_WINDOWS: return m_windowsFolder;
    case BASE_SYSTEM: return m_systemFolder;
    case BASE_MODULE: break;
    }
    return m_moduleFolder;
}

bool CUpdateList::Load(const std::wstring& path, const std::atomic<bool>* stop)
{
    std::string document;
    if (!CFile::ReadAll(path, document)) {
        Clear();
        return false;
    }
    return LoadBytes(document, stop);
}

bool CUpdateList::LoadBytes(const std::string& document, const std::atomic<bool>* stop)
{
    Clear();
    CVariant source;
    if (!source.SetBytes(document))
        throw std::bad_alloc();
    std::lock_guard<CCriticalSection> guard(Mutex());
    return LoadDocument(source.Get(), stop);
}

bool CUpdateList::LoadDocument(VARIANT& source, const std::atomic<bool>* stop)
{
    // Memory that runs out on the way is told as such, not as a list that
    // cannot be read (after which the window would wait to be closed).
    auto failed = [](HRESULT hr) {
        if (hr == E_OUTOFMEMORY)
            throw std::bad_alloc();
        return FAILED(hr);
    };
    CComPtr<IXMLDOMDocument> document;
    if (failed(::CoCreateInstance(CLSID_DOM_DOCUMENT, nullptr, CLSCTX_INPROC_SERVER, IID_XML_DOM_DOCUMENT,
                                  document.ReceiveVoid())) ||
        !document)
        return false;
    // The list names local files only: nothing outside the document is fetched
    // or checked while it is read.
    if (failed(document->put_async(VARIANT_FALSE)) || failed(document->put_resolveExternals(VARIANT_FALSE)) ||
        failed(document->put_validateOnParse(VARIANT_FALSE)))
        return false;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (failed(document->load(source, &loaded)) || loaded != VARIANT_TRUE)
        return false;

    CComPtr<IXMLDOMElement> root;
    if (FAILED(document->get_documentElement(root.Receive())) || !root)
        return false;
    CBstr tag;
    *tag.Receive() = ::SysAllocString(L"File");
    if (!tag.Get())
        return false;
    CComPtr<IXMLDOMNodeList> files;
    if (FAILED(root->getElementsByTagName(tag.Get(), files.Receive())) || !files)
        return false;
    long count = 0;
    if (FAILED(files->get_length(&count)))
        return false;

    for (long i = 0; i < count; ++i) {
        if (stop && *stop)
            return false;
        CComPtr<IXMLDOMNode> element;
        if (FAILED(files->get_item(i, element.Receive())) || !element)
            continue;
        // Some DOM components match the local name, so that x:File would count too.
        CBstr name;
        if (FAILED(element->get_nodeName(name.Receive())) || name.Text() != L"File")
            continue;
        std::unique_ptr<CFileEntry> entry(new CFileEntry());
        ReadChildren(element.Get(), *entry);
        entry->FullPath = JoinFullPath(BaseFolderFor(entry->InstallDir), entry->LocalPath, entry->FileName);
        if (!PushBack(entry.release()))
            throw std::bad_alloc();
    }
    return true;
}

unsigned CUpdateList::SelectForUpdate(const std::atomic<bool>* stop)
{
    return static_cast<unsigned>(
        KeepIf([stop](CFileEntry& entry) { return !(stop && *stop) && entry.DecideUpdate(); }));
}

std::uint32_t CUpdateList::TotalLength() const
{
    std::uint32_t total = 0;
    ForEach([&total](const CFileEntry& entry) {
        if (entry.NeedsUpdate)
            total += static_cast<std::uint32_t>(static_cast<std::uint64_t>(entry.Length));
    });
    return total;
}
