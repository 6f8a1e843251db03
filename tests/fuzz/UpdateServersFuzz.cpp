// updatelist.ini on any bytes.
#include "FuzzInput.h"
#include "UpdateServerList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<UpdateServer> servers = ParseUpdateServers(AsBytes(data, size));
    FUZZ_CHECK(servers.size() <= size);
    for (const UpdateServer& s : servers)
        (void)ServerPort(s);
    return 0;
}
