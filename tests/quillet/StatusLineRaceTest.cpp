// The status line's hand-over under ThreadSanitizer: two writers (the update
// thread with its step texts, a transfer thread with its begin and end lines)
// replace the text while a painter copies it. Every copy must be one whole text
// that some writer put there, and ThreadSanitizer must find no race (it ends the
// program with a failing exit code when it does).
#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "StatusLine.h"

namespace {

std::vector<std::string> Texts(const char* prefix, int count)
{
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
        // Lengths from short to well past the small-string buffer, so that a
        // replacement reallocates and a torn copy would be caught.
        texts.push_back(std::string(prefix) + std::string(static_cast<std::size_t>(i * 7 % 90), 'a' + i % 26) + ")");
    }
    return texts;
}

} // namespace

int main()
{
    const int rounds = 20000;
    const std::vector<std::string> update = Texts("update (", 40);
    const std::vector<std::string> transfer = Texts("transfer (", 40);
    std::set<std::string> valid(update.begin(), update.end());
    valid.insert(transfer.begin(), transfer.end());
    valid.insert(std::string());

    CStatusLine line;
    std::atomic<int> writersDone{0};
    auto writer = [&](const std::vector<std::string>& texts) {
        for (int i = 0; i < rounds; ++i)
            line.Replace(texts[static_cast<std::size_t>(i) % texts.size()]);
        ++writersDone;
    };
    std::thread a(writer, std::cref(update));
    std::thread b(writer, std::cref(transfer));

    long copies = 0;
    long torn = 0;
    while (writersDone.load() < 2) {
        std::string seen = line.Copy();
        ++copies;
        if (!valid.count(seen))
            ++torn;
    }
    a.join();
    b.join();

    std::string last = line.Copy();
    bool lastValid = last == update[(rounds - 1) % update.size()] || last == transfer[(rounds - 1) % transfer.size()];
    std::printf("%ld copies, %ld not one whole text\n", copies, torn);
    if (torn != 0 || !lastValid) {
        std::printf("FAIL\n");
        return 1;
    }
    return 0;
}
