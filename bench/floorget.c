/* The floor of a small-file download, for bench/run.sh: a plain blocking client that makes only
 * the calls a download cannot do without (socket, connect, send, recv, open, write, close) and
 * no others. Each URL (http://HOST:PORT/PATH, HOST a dotted address) is fetched over an
 * HTTP/1.0 connection of its own and its body stored under its last segment in OUTDIR, which
 * must exist. Any failure ends the program with status 1.
 *
 *   floorget URLFILE OUTDIR
 *
 * Prints "N files in S s": the time of the downloads alone, without the process start.
 */
#define _GNU_SOURCE /* memmem */
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static void Fail(const char* what, const char* url) {
    fprintf(stderr, "floorget: %s: %s\n", what, url);
    exit(1);
}

static void Fetch(const char* url, const char* outDir) {
    char host[64];
    unsigned port = 0;
    int used = 0;
    if (sscanf(url, "http://%63[0-9.]:%u%n", host, &port, &used) != 2 || url[used] != '/')
        Fail("not http://ADDRESS:PORT/PATH", url);
    const char* path = url + used;
    struct sockaddr_in address = {.sin_family = AF_INET, .sin_port = htons((uint16_t)port)};
    if (inet_pton(AF_INET, host, &address.sin_addr) != 1)
        Fail("bad address", url);

    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0)
        Fail("cannot connect", url);
    /* The very request the program sends (its lines for a page or a picture, no proxy): the
     * server then does the same work for both, and only the clients' own calls differ. */
    char request[4096];
    const int length = snprintf(request, sizeof request,
                                "GET %s HTTP/1.0\r\n"
                                "Host: %s\r\n"
                                "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                                "Accept: image/x-rgb, image/x-xbm, image/gif, */*, "
                                "application/postscript\r\n"
                                "Content-type: application/x-www-form-urlencoded\r\n"
                                "\r\n",
                                path, host);
    if (length <= 0 || (size_t)length >= sizeof request || send(fd, request, length, 0) != length)
        Fail("cannot send", url);

    char name[4096];
    snprintf(name, sizeof name, "%s/%s", outDir, strrchr(path, '/') + 1);
    int out = -1;
    static char buffer[1 << 16];
    size_t held = 0; /* header bytes read so far, while the header is not whole */
    for (;;) {
        const ssize_t got = recv(fd, buffer + held, sizeof buffer - held, 0);
        if (got < 0)
            Fail("cannot receive", url);
        if (got == 0)
            break;
        if (out >= 0) {
            if (write(out, buffer, (size_t)got) != got)
                Fail("cannot write", name);
            continue;
        }
        held += (size_t)got;
        const char* end = memmem(buffer, held, "\r\n\r\n", 4);
        if (end == NULL) {
            if (held == sizeof buffer)
                Fail("header too long", url);
            continue;
        }
        if (strncmp(buffer, "HTTP/1.1 200", 12) != 0 && strncmp(buffer, "HTTP/1.0 200", 12) != 0)
            Fail("not 200", url);
        out = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0)
            Fail("cannot create", name);
        const size_t body = held - (size_t)(end + 4 - buffer);
        if (body > 0 && write(out, end + 4, body) != (ssize_t)body)
            Fail("cannot write", name);
        held = 0;
    }
    if (out < 0)
        Fail("no header", url);
    close(out);
    close(fd);
}

int main(int argc, char* argv[]) {
    if (argc != 3) {
        fprintf(stderr, "usage: floorget URLFILE OUTDIR\n");
        return 2;
    }
    /* The list is read first, as httpget reads it, so that the clock sees the downloads only. */
    FILE* list = fopen(argv[1], "r");
    if (list == NULL)
        Fail("cannot open", argv[1]);
    char** urls = NULL;
    size_t count = 0, room = 0;
    char line[4096];
    while (fgets(line, sizeof line, list) != NULL) {
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0')
            continue;
        if (count == room) {
            room = room != 0 ? 2 * room : 256;
            urls = realloc(urls, room * sizeof *urls);
            if (urls == NULL)
                Fail("out of memory", argv[1]);
        }
        if ((urls[count++] = strdup(line)) == NULL)
            Fail("out of memory", argv[1]);
    }
    fclose(list);
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (size_t i = 0; i < count; ++i)
        Fetch(urls[i], argv[2]);
    clock_gettime(CLOCK_MONOTONIC, &end);
    /* The same first words as httpget's report: the bench reads the time from them. */
    printf("%zu files in %.6f s\n", count,
           (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9);
    return 0;
}
