// The HTTP response reader on any bytes: the first byte chooses how the rest is
// cut into reads; the answer must not depend on the cut, and the body never
// exceeds what the head allows.
#include "FuzzInput.h"
#include "HttpResponse.h"

namespace {

struct Outcome {
    CHttpResponseParser::State state;
    std::string body;
    int status;
};

Outcome Read(std::string_view bytes, std::size_t piece)
{
    CHttpResponseParser parser;
    Outcome o{parser.Current(), std::string(), 0};
    const auto sink = [&o](std::string_view b) { o.body.append(b); };
    for (std::size_t i = 0; i < bytes.size() && o.state != CHttpResponseParser::State::Failed; i += piece)
        o.state = parser.Feed(bytes.substr(i, piece), sink);
    if (o.state != CHttpResponseParser::State::Failed)
        o.state = parser.Finish();
    o.status = parser.Head().status;
    FUZZ_CHECK(parser.BodyReceived() == o.body.size());
    if (parser.Head().contentLength)
        FUZZ_CHECK(o.body.size() <= *parser.Head().contentLength);
    if (o.state == CHttpResponseParser::State::Done && parser.Head().contentLength && o.status / 100 != 1 &&
        o.status != 204 && o.status != 304)
        FUZZ_CHECK(o.body.size() == *parser.Head().contentLength);
    FUZZ_CHECK(parser.Head().headers.size() <= HTTP_HEADERS_MAX);
    FUZZ_CHECK(o.body.size() <= bytes.size());
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::string_view bytes = AsBytes(data + 1, size - 1);
    const Outcome whole = Read(bytes, bytes.size() + 1);
    const Outcome cut = Read(bytes, piece);
    FUZZ_CHECK(whole.state == cut.state);
    FUZZ_CHECK(whole.status == cut.status);
    if (whole.state == CHttpResponseParser::State::Done)
        FUZZ_CHECK(whole.body == cut.body);
    return 0;
}
