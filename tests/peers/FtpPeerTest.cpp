#include "net/NMFTP.h"
#include "tests/peers/WebPeers.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

// The FTP client against real servers in active mode: an anonymous login, the scan directory
// with its doubled slash, the listing parsed into names, every file stored byte for byte (line
// ends and NUL bytes included, which only binary transfers keep), and a missing directory.

namespace {

const std::string ScanDir = "pub/brick/scans/08000/8436";

struct ServedFile {
    std::string name;
    std::string content; // empty: pseudo-random bytes of size
    uint64_t size;
};

const std::vector<ServedFile>& ServedFiles() {
    static const std::vector<ServedFile> files = {
        {"8436_1.pdf", "", 300000},
        {"8436_2.pdf", "", 5 << 20},
        // Text-like bytes that an ASCII-mode transfer would rewrite.
        {"lines.txt", std::string("bare LF\nCR LF\r\nlone CR\rNUL\0end\n\n", 32), 0},
        {"empty.jpg", "", 0},
        {"index.htm", "<html></html>\n", 0},
    };
    return files;
}

// The served tree, world-readable: the servers' sessions run as other users.
std::string MakeTree(const peers::ScratchDir& dir) {
    const std::string scans = dir.MakeDir("root/" + ScanDir);
    for (const ServedFile& file : ServedFiles()) {
        const std::string path = scans + "/" + file.name;
        if (file.content.empty())
            WritePseudoRandomFile(path, file.size, file.size + 7);
        else
            std::ofstream(path, std::ios::binary) << file.content;
    }
    return dir.Path() + "/root";
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const FTPException& e) {
        return std::string("FTPException: ") + e.what();
    } catch (const Exception& e) {
        return std::string("Exception: ") + e.what();
    }
    return "";
}

// Runs the instruction-scan dialogue against the server on port and checks what it stored.
void MirrorScans(int port, const std::string& user, const std::string& root,
                 const std::string& outDir, const std::string& serverLog) {
    TNMFTP ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = port;
    ftp.UserID = ftp.Password = user;
    ftp.ParseList = true;
    ftp.ReportLevel = 1;
    std::vector<std::string> statuses;
    ftp.OnStatus = [&](TComponent*, const std::string& text) { statuses.push_back(text); };
    // A wait that never ends would stall the binary: end it with an error instead.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&ftp] {
        ftp.RequestCancel();
        ftp.Cancel();
    });
    guard.start(120000);

    std::vector<std::string> names;
    std::string missing;
    ftp.OnConnect = [&](TComponent*) {
        ftp.ChangeDirectory("/pub/brick//scans/08000/8436/");
        ftp.List();
        names = ftp.DirectoryList()->NameList;
        for (const std::string& name : names)
            ftp.Download(name, outDir + "/" + name);
        missing = ErrorOf([&] { ftp.ChangeDirectory("/pub/brick//scans/08000/9999/"); });
    };
    const std::string error = ErrorOf([&] {
        ftp.Connect();
        ftp.Disconnect();
    });
    ASSERT_EQ(error, "") << serverLog;

    std::vector<std::string> served;
    for (const ServedFile& file : ServedFiles())
        served.push_back(file.name);
    std::sort(served.begin(), served.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, served);
    for (const std::string& name : served)
        EXPECT_EQ(FileDifference(root + "/" + ScanDir + "/" + name, outDir + "/" + name), "")
            << name;
    EXPECT_EQ(missing.rfind("FTPException: 550 ", 0), 0u) << missing;
    EXPECT_EQ(missing.substr(missing.size() - 2), "\r\n");

    const auto type = std::find(statuses.begin(), statuses.end(), "TYPE I");
    ASSERT_NE(type, statuses.end());
    ASSERT_NE(type + 1, statuses.end());
    EXPECT_EQ(type[1].substr(0, 4), "200 ") << type[1];
    EXPECT_TRUE(std::find(statuses.begin(), statuses.end(), "Received 5242880 Bytes") !=
                statuses.end());
}

} // namespace

TEST(FtpPeers, VsftpdMirrorsTheScanDirectoryByteForByte) {
    peers::ScratchDir dir;
    const std::string root = MakeTree(dir);
    const std::string out = dir.MakeDir("out");
    peers::VsftpdServer server(root);
    MirrorScans(server.Port(), "Anonymous", root, out, server.Log());
}

// pyftpdlib knows its anonymous user only in lower case; the program's "Anonymous" gets 530.
TEST(FtpPeers, PyftpdlibMirrorsTheScanDirectoryByteForByte) {
    peers::ScratchDir dir;
    const std::string root = MakeTree(dir);
    const std::string out = dir.MakeDir("out");
    peers::PyFtpServer server(root);
    MirrorScans(server.Port(), "anonymous", root, out, server.Log());
}
