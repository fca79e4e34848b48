#pragma once

// The fixture gallery site on 127.0.0.1: an HTTP/1.0 server that answers for gallery sites A
// (www.vantrelpix.com) and B (www.vantrelshots.com) from GalleryModels. The program reaches it
// through its proxy setting, so requests come in proxy form ("GET http://www.vantrelpix.com/
// cgi-bin/gallery.cgi?f=123 HTTP/1.0"); origin form with a Host header works too (a browser
// or curl on http://127.0.0.1:PORT/...). Every answer carries Content-Length and
// "Connection: close" and ends with the close. Each connection gets its own thread, so a
// stalled answer never holds up the next.
//
//     fixture::GalleryModel model;
//     ... build it (GalleryModel.h) ...
//     fixture::GallerySite site(model);
//     engine proxy := 127.0.0.1 : site.Port()
//     ... run a job ...
//     EXPECT_EQ(site.Hits(folder.ListingPath()), 1u);
//
// The models must outlive the server and stay unchanged while it serves (see GalleryModel.h).

#include "tests/support/GalleryModel.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fixture {

inline const std::string kHostA = "www.vantrelpix.com";
inline const std::string kHostB = "www.vantrelshots.com";

// One request as the server read it.
struct Request {
    std::string target; // as on the request line: "http://www.vantrelpix.com/..." or "/..."
    std::string host;   // from the proxy-form target, else the Host header; port dropped
    std::string path;   // origin form: "/cgi-bin/gallery.cgi?f=123"
    std::string url;    // "http://" + host + path
    std::string cookie; // the Cookie header's value; empty without one
    std::string ifModifiedSince; // the If-Modified-Since header's value; empty without one
    char site = 'A'; // the model that answered: 'B' for host kHostB, 'A' for every other
    int status = 0;
};

class GallerySite {
public:
    // Both hosts serve the same gallery.
    explicit GallerySite(const GalleryModel& both) : GallerySite(both, both) {}
    // Port 0 takes a free port.
    GallerySite(const GalleryModel& siteA, const GalleryModel& siteB, uint16_t port = 0);
    ~GallerySite();
    GallerySite(const GallerySite&) = delete;
    GallerySite& operator=(const GallerySite&) = delete;

    uint16_t Port() const { return port_; }
    // Ends every connection (a stalled answer too) and the threads; called by the destructor.
    void Stop();

    // Every request so far, in the order the server read them.
    std::vector<Request> Requests() const;
    // Their urls, in the same order.
    std::vector<std::string> Urls() const;
    // How often a URL was asked for: a full URL ("http://www.vantrelpix.com/...") counts on
    // that host, a path ("/gallery/...") on every host.
    size_t Hits(const std::string& urlOrPath) const;
    // The picture requests so far: paths below /gallery/ that are not a thumbnail page.
    size_t PictureRequests() const;
    // Forgets the requests and the counts (a Reject fault then rejects anew).
    void ClearLog();
    // Blocks until count requests have been read; false after milliseconds.
    bool WaitForRequests(size_t count, int milliseconds) const;
    // Called on a server thread for every request as it is logged, before its answer is sent.
    void OnRequest(std::function<void(const Request&)> callback);
    // Every answer starts this long after its request, as a slow site's would; connections
    // wait side by side, each on its own thread.
    void SetLatency(int milliseconds) { latencyMs_ = milliseconds; }
    // A connection beyond limit open at once (from its accept until its answer is sent) is
    // answered 503 with a body that is no page; 0 is no limit.
    void SetConnectionLimit(int limit) { connectionLimit_ = limit; }
    // One connection is served at a time: the next is accepted once the last one is done.
    void SetOneAtATime(bool on) { oneAtATime_ = on; }

private:
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void AcceptLoop();
    void Serve(int fd);
    bool ReadHeader(int fd, std::string& header);
    bool SendAll(int fd, const char* data, size_t size);
    // The Slow fault: the answer in pieces, over milliseconds.
    void SendSlowly(int fd, const std::string& response, int milliseconds);
    // Waits for fd's events or the stop; false on stop, on timeout, or on an error.
    bool Ready(int fd, short events, int milliseconds) const;
    void WaitUntilClosed(int fd, int milliseconds);
    void Log(const Request& request);

    const GalleryModel& siteA_;
    const GalleryModel& siteB_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> latencyMs_{0};
    std::atomic<int> connectionLimit_{0};
    std::atomic<int> openConnections_{0};
    std::atomic<bool> oneAtATime_{false};
    std::function<void(const Request&)> callback_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Request> requests_;
    std::map<std::string, size_t> hits_; // by url

    std::thread acceptThread_;
    std::list<Connection> connections_; // touched by the accept thread, then by Stop
};

// What a small blocking HTTP/1.0 client got from the fixture.
struct Fetched {
    int status = 0;
    std::string header; // up to and including the blank line
    std::string body;
    bool complete = false; // the server closed the connection within the time allowed
};

// GET url from the server at 127.0.0.1:port: a full URL ("http://www.vantrelpix.com/...") in
// proxy form, a path in origin form with Host kHostA. Reads until the server closes or
// milliseconds pass.
Fetched FetchFrom(uint16_t port, const std::string& url, int milliseconds = 10000);

} // namespace fixture
