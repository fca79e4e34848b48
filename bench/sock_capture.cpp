// Downloads one HTTP/1.0 resource with the bare socket session (request line, header lines
// skipped with ReadLn, body captured to a file until the server closes) and prints the byte
// count and the time, for comparison with curl on the same loopback server.
//
//     sock_capture HOST PORT PATH OUTFILE [REPEAT]
//
// With REPEAT above 1 the downloads go to OUTFILE.1, OUTFILE.2, ...: rewriting one file over
// and over would measure the file system's truncation (ext4 flushes a truncated file on
// close), not the download.

#include "net/Powersock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: sock_capture HOST PORT PATH OUTFILE [REPEAT]\n");
        return 2;
    }
    const int repeat = argc > 5 ? std::atoi(argv[5]) : 1;
    try {
        TPowersock sock;
        sock.Host = argv[1];
        sock.Port = std::atoi(argv[2]);
        uint64_t total = 0;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < repeat; ++i) {
            sock.Connect();
            sock.Write(std::string("GET ") + argv[3] + " HTTP/1.0\r\nHost: " + argv[1] +
                       "\r\n\r\n");
            for (;;) {
                const std::string line = sock.ReadLn();
                if (line == "\r\n" || line == "\n")
                    break;
            }
            sock.CaptureFile(repeat > 1 ? std::string(argv[4]) + "." + std::to_string(i + 1)
                                        : std::string(argv[4]));
            total += sock.BytesReceived();
            sock.Disconnect();
        }
        const double seconds = clock.nsecsElapsed() / 1e9;
        std::printf("%llu bytes in %.3f s, %.1f MB/s\n", static_cast<unsigned long long>(total),
                    seconds, total / seconds / 1e6);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
