// Writes a large export archive for timing `vok-tse-client verify`: one TSE,
// start+finish pairs, signed with OpenSSL on the curve given. It measures
// nothing itself; bench/run.sh times verify on what it writes.
//
//   verify_bench FILE MESSAGES [CURVE] [PROCESS_DATA_BYTES]
#include "tools/ExportBuilder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

using namespace export_builder;

int main(int argc, char** argv)
{
    if (argc < 3 || std::atol(argv[2]) < 2) {
        std::fprintf(stderr, "usage: verify_bench FILE MESSAGES [CURVE] [PROCESS_DATA_BYTES]\n");
        return 2;
    }
    const std::string path = argv[1];
    const long messages = std::atol(argv[2]);
    Layout layout;
    layout.curve = argc > 3 ? argv[3] : "brainpoolP384r1";
    layout.hash = layout.curve == "prime256v1" ? Hash::Sha256 : Hash::Sha384;
    const size_t dataBytes = argc > 4 ? static_cast<size_t>(std::atol(argv[4])) : 40;
    std::string data = "Beleg^12.50_0.00_0.00_0.00_0.00^12.50:Bar";
    data.resize(std::max(dataBytes, data.size()), ' ');

    Tse tse(layout);
    ArchiveWriter out(path);
    bool ok = out.Add({"info.csv", {}});
    for (const Member& c : tse.Certificates()) ok = ok && out.Add(c);
    const int64_t t = static_cast<int64_t>(std::time(nullptr)) - messages;
    for (long i = 0; ok && i + 1 < messages; i += 2) {
        const uint64_t number = static_cast<uint64_t>(i / 2 + 1);
        ok = out.Add(tse.Sign(Log::Start, number, t + i, "")) && out.Add(tse.Sign(Log::Finish, number, t + i + 1, data));
    }
    ok = out.Close() && ok;
    if (!ok) std::fprintf(stderr, "verify_bench: cannot write %s\n", path.c_str());
    return ok ? 0 : 1;
}
