/* A paced flood of small junk datagrams (and now and then a forged
 * full-size picture) from one loopback address to another, for the link's
 * flood checks. Built on the fly by the scripts that use it.
 *
 *   udp_flood FROM_ADDRESS TO_ADDRESS TO_PORT PER_SECOND SECONDS
 *
 * Prints the datagrams offered and those the system took. Loopback only: it refuses
 * any address outside 127.0.0.0/8. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static double Now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static int Loopback(const char* text, struct sockaddr_in* address, int port)
{
    memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons((unsigned short)port);
    if (inet_pton(AF_INET, text, &address->sin_addr) != 1) return 0;
    return (ntohl(address->sin_addr.s_addr) >> 24) == 127;
}

int main(int argc, char** argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: udp_flood FROM TO PORT PER_SECOND SECONDS\n");
        return 2;
    }
    struct sockaddr_in from, to;
    if (!Loopback(argv[1], &from, 0) || !Loopback(argv[2], &to, atoi(argv[3]))) {
        fprintf(stderr, "udp_flood: loopback addresses only\n");
        return 2;
    }
    double perSecond = atof(argv[4]);
    double seconds = atof(argv[5]);
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (s < 0 || bind(s, (struct sockaddr*)&from, sizeof from) != 0) {
        perror("udp_flood");
        return 1;
    }
    enum { kBatch = 64 };
    static unsigned char junk[kBatch][64];
    static unsigned char picture[49152];
    struct mmsghdr messages[kBatch];
    struct iovec parts[kBatch];
    for (int i = 0; i < kBatch; ++i) {
        memset(junk[i], i * 37, sizeof junk[i]);
        parts[i].iov_base = junk[i];
        /* 0 to 63 bytes: Registrations, Greetings, halves of them, noise. */
        parts[i].iov_len = (size_t)(i % 64);
        memset(&messages[i], 0, sizeof messages[i]);
        messages[i].msg_hdr.msg_name = &to;
        messages[i].msg_hdr.msg_namelen = sizeof to;
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    junk[4][0] = 0xFE; junk[4][1] = 0xFF; junk[4][2] = 0; junk[4][3] = 0;
    junk[5][0] = 0xFF; junk[5][1] = 0xFF;
    memset(picture, 0x80, sizeof picture);
    double start = Now();
    long long sent = 0, taken = 0, batches = 0;
    while (Now() - start < seconds) {
        double due = start + (double)(sent + kBatch) / perSecond;
        double wait = due - Now();
        if (wait > 0) {
            struct timespec pause = {(time_t)wait, (long)((wait - (time_t)wait) * 1e9)};
            nanosleep(&pause, NULL);
        }
        int got = sendmmsg(s, messages, kBatch, 0);
        if (got > 0) taken += got;
        sent += kBatch; /* paced on what was offered */
        /* A forged picture now and then, from the wrong address. */
        if (++batches % 200 == 0) sendto(s, picture, sizeof picture, 0, (struct sockaddr*)&to, sizeof to);
    }
    printf("%lld %lld\n", sent, taken);
    return 0;
}
