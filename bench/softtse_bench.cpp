// How many start+finish pairs per second the software TSE signs on this
// machine, on a fresh device in a temporary directory (in TMPDIR, else /tmp).
#include "se_api.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

bool check(se_result_t rc, const char *what)
{
    if (rc != ExecutionOk)
        std::fprintf(stderr, "%s failed: 0x%04X\n", what, static_cast<unsigned>(rc));
    return rc == ExecutionOk;
}

bool login(const char *user, const char *pin)
{
    int32_t result = 0;
    int16_t retries = 0;
    return check(se_authenticateUser(user, static_cast<uint32_t>(std::strlen(user)),
                                     reinterpret_cast<const uint8_t *>(pin), static_cast<uint32_t>(std::strlen(pin)),
                                     &result, &retries),
                 "login");
}

bool prepare(const std::string &device, const char *client)
{
    const auto pin = [](const char *s) { return reinterpret_cast<const uint8_t *>(s); };
    if (!check(se_openDirect(device.c_str(), 5000), "open") ||
        !check(se_initializePinValues(pin("1234"), 4, pin("12345678"), 8, pin("4321"), 4, pin("87654321"), 8),
               "PIN setup") ||
        !login("Admin", "1234") || !check(se_initialize(), "initialise") ||
        !check(se_updateTime(static_cast<uint64_t>(std::time(nullptr))), "time"))
        return false;
    uint8_t *serials = nullptr;
    uint32_t length = 0;
    if (!check(se_exportSerialNumbers(&serials, &length), "serial") || length < 38)
        return false;
    const se_result_t rc = se_mapERStoKey(client, static_cast<uint32_t>(std::strlen(client)), serials + 6, 32);
    se_free(serials);
    return check(rc, "map");
}

} // namespace

int main(int argc, char **argv)
{
    const int pairs = argc > 1 ? std::atoi(argv[1]) : 300;
    // A device that has signed this many pairs before the timed ones, as
    // the service's device has after a burst and a drain.
    const int prefill = argc > 2 ? std::atoi(argv[2]) : 0;
    // In TMPDIR when set, so that the TSE's rate is measured on the file
    // system the service's figures are measured on.
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/softtse-bench-XXXXXX";
    if (pairs <= 0 || mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "usage: softtse_bench [pairs [pairs signed before, untimed]]\n");
        return 2;
    }
    const std::string device = pattern.c_str();
    std::ofstream(device + "/TSE-IO.bin").put('\n');
    const char *client = "BENCH-KASSE-01";
    const char *type = "Kassenbeleg-V1";
    const char *data = "Beleg^12.50_0.00_0.00_0.00_0.00^12.50:Bar";
    int done = 0;
    double seconds = 0, cpuSeconds = 0;
    if (prepare(device, client)) {
        auto begin = std::chrono::steady_clock::now();
        std::clock_t cpuBegin = std::clock();
        for (; done < prefill + pairs; ++done) {
            if (done == prefill) {
                begin = std::chrono::steady_clock::now();
                cpuBegin = std::clock();
            }
            se_StartTransactionResult_t start{};
            se_FinishTransactionResult_t finish{};
            if (!check(se_startTransaction(client, static_cast<uint32_t>(std::strlen(client)), nullptr, 0, "", 0,
                                           nullptr, 0, &start),
                       "start"))
                break;
            se_free(start.serialNumber);
            se_free(start.signatureValue);
            if (!check(se_finishTransaction(client, static_cast<uint32_t>(std::strlen(client)), start.transactionNumber,
                                            reinterpret_cast<const uint8_t *>(data),
                                            static_cast<uint32_t>(std::strlen(data)), type,
                                            static_cast<uint32_t>(std::strlen(type)), nullptr, 0, &finish),
                       "finish"))
                break;
            se_free(finish.serialNumber);
            se_free(finish.signatureValue);
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        cpuSeconds = double(std::clock() - cpuBegin) / CLOCKS_PER_SEC;
        se_close();
    }
    std::error_code ignored;
    std::filesystem::remove_all(device, ignored);
    done -= prefill;
    if (done <= 0)
        return 1;
    std::printf("%d start+finish pairs in %.3f s: %.1f pairs per second, %.2f ms processor time a pair", done, seconds,
                done / seconds, cpuSeconds * 1e3 / done);
    if (prefill > 0) std::printf(" (after %d pairs)", prefill);
    std::printf("\n");
    return done == pairs ? 0 : 1;
}
