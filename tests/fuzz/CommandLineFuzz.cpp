// The command tail and the argument splitting of both programs on any command line.
#include "CommandLine.h"
#include "FuzzInput.h"
#include "GbkText.h"
#include "StartupRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::wstring line = AsWide(data, size);
    std::wstring_view tail = CommandTail(line);
    FUZZ_CHECK(tail.size() <= line.size());
    FUZZ_CHECK(line.compare(line.size() - tail.size(), tail.size(), tail) == 0);

    std::vector<std::wstring> arguments = SplitCommandLine(line);
    std::size_t total = 0;
    for (const std::wstring& a : arguments)
        total += a.size();
    FUZZ_CHECK(total <= line.size());

    // Quillet's start-up rules take 8-bit arguments.
    std::vector<std::string> narrow;
    for (const std::wstring& a : arguments) {
        std::string n;
        for (wchar_t c : a)
            n.push_back(static_cast<char>(c & 0xFF));
        narrow.push_back(n);
    }
    std::string parameter = LaunchParameter(narrow);
    GameNumbers numbers = ParseGameNumbers(parameter);
    (void)HallLParam(numbers);
    (void)WindowTitle(parameter);
    std::string own(AsBytes(data, size));
    std::string part = FileNamePart(own, GbkLeadBytes());
    FUZZ_CHECK(part.size() <= own.size());
    (void)IsWorkerFileName(part);
    (void)ProgramFolderOf(own, GbkLeadBytes());
    (void)CopyPathOf(own);
    (void)CommandLineFor(own, parameter);
    return 0;
}
