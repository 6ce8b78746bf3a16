// vok-tse-client: hands one job to the signing service and prints its answer.
#include "vok-tse-client/Client.h"

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<QByteArray> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);  // raw bytes: job texts stay unchanged

    const vokclient::RunResult r = vokclient::RunCommandLine(args);
    if (!r.out.isEmpty()) std::fwrite(r.out.constData(), 1, static_cast<size_t>(r.out.size()), stdout);
    std::fflush(stdout);
    if (!r.error.isEmpty()) {
        QString line = r.error;
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        std::fprintf(stderr, "vok-tse-client: %s\n", line.toLocal8Bit().constData());
    }
    return r.exitCode;
}
