#include "floors.h"

#include <openssl/des.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace tranpak::bench {
namespace {

constexpr int kHeader = 17;  // start, 4 digits, txcode, bitmap
const unsigned char kExampleBitmap[8] = {0x70, 0, 0, 0, 0, 0, 0, 0x01};
const unsigned char kFullBitmap[8] = {0x7E, 0, 0, 0, 0, 0, 0, 0x01};

// XOR fold from "00000000", the last block filled with zero bytes.
uint64_t Fold(const unsigned char *data, int n)
{
    uint64_t acc = 0x3030303030303030ULL, block;
    int at = 0;
    for (; at + 8 <= n; at += 8) {
        std::memcpy(&block, data + at, 8);
        acc ^= block;
    }
    block = 0;
    std::memcpy(&block, data + at, static_cast<size_t>(n - at));
    return acc ^ block;
}

void Mac(const unsigned char *data, int n, const unsigned char *key, unsigned char out[8])
{
    uint64_t acc = Fold(data, n);
    DES_cblock k, in;
    std::memcpy(k, key, 8);
    std::memcpy(in, &acc, 8);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&k, &schedule);
    DES_ecb_encrypt(&in, reinterpret_cast<DES_cblock *>(out), &schedule, DES_ENCRYPT);
}

// Header, MAC and stop byte around data that ends at end.
int Finish(unsigned char *frame, unsigned char *end, const unsigned char *key, const char *txcode,
           const unsigned char bitmap[8])
{
    unsigned char *data = frame + kHeader;
    Mac(data, static_cast<int>(end - data), key, end);
    end += 8;
    int len = static_cast<int>(end - data) + 12;
    frame[0] = 0x02;
    frame[1] = static_cast<unsigned char>('0' + len / 1000);
    frame[2] = static_cast<unsigned char>('0' + len / 100 % 10);
    frame[3] = static_cast<unsigned char>('0' + len / 10 % 10);
    frame[4] = static_cast<unsigned char>('0' + len % 10);
    std::memcpy(frame + 5, txcode, 4);
    std::memcpy(frame + 9, bitmap, 8);
    *end = 0x03;
    return len + 6;
}

unsigned char *ZeroFill(unsigned char *out, const char *text, size_t width)
{
    size_t n = std::strlen(text);
    std::memset(out, '0', width - n);
    std::memcpy(out + width - n, text, n);
    return out + width;
}

unsigned char *BlankFill(unsigned char *out, const char *text, size_t width)
{
    size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    std::memset(out + n, ' ', width - n);
    return out + width;
}

int RecvAll(int sock, unsigned char *buf, int count)
{
    int got = 0;
    while (got < count) {
        ssize_t n = recv(sock, buf + got, static_cast<size_t>(count - got), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        got += static_cast<int>(n);
    }
    return got;
}

int SendAll(int sock, const unsigned char *buf, int count)
{
    int sent = 0;
    while (sent < count) {
        ssize_t n = send(sock, buf + sent, static_cast<size_t>(count - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        sent += static_cast<int>(n);
    }
    return 0;
}

// Reads one frame's body (txcode to stop byte) into buf; its len, or -1.
int RecvFrame(int sock, unsigned char *buf)
{
    unsigned char head[5];
    if (RecvAll(sock, head, 5) < 0 || head[0] != 0x02)
        return -1;
    int len = 0;
    for (int k = 1; k < 5; ++k) {
        if (head[k] < '0' || head[k] > '9')
            return -1;
        len = len * 10 + (head[k] - '0');
    }
    if (len < 20 || len > 2047 || RecvAll(sock, buf, len + 1) < 0 || buf[len] != 0x03)
        return -1;
    return len;
}

void CopyText(char *dst, const unsigned char *src, int n)
{
    std::memcpy(dst, src, static_cast<size_t>(n));
    dst[n] = '\0';
}

}  // namespace

extern "C" {

__attribute__((noinline)) int FloorPackExample(unsigned char *frame, const unsigned char *key, const ExampleFields *in)
{
    unsigned char *out = frame + kHeader;
    size_t pan = std::strlen(in->pan);
    out[0] = static_cast<unsigned char>('0' + pan / 10);
    out[1] = static_cast<unsigned char>('0' + pan % 10);
    std::memcpy(out + 2, in->pan, pan);
    out += 2 + pan;
    out = ZeroFill(out, in->proc, 6);
    out = ZeroFill(out, in->amount, 12);
    return Finish(frame, out, key, in->txcode, kExampleBitmap);
}

__attribute__((noinline)) int FloorPackFull(unsigned char *frame, const unsigned char *key, const FullFields *in)
{
    unsigned char *out = frame + kHeader;
    for (const char *text : in->text)
        out = BlankFill(out, text, 399);
    out = BlankFill(out, in->tail, 26);
    return Finish(frame, out, key, in->txcode, kFullBitmap);
}

__attribute__((noinline)) int FloorUnpackExample(const unsigned char *body, int len, ExampleFields *out)
{
    if (std::memcmp(body + 4, kExampleBitmap, 8) != 0)
        return -1;
    const unsigned char *p = body + 12, *end = body + len;
    CopyText(out->txcode, body, 4);
    if (end - p < 2 || p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9')
        return -1;
    int pan = (p[0] - '0') * 10 + (p[1] - '0');
    if (pan > 19 || end - p < 2 + pan + 6 + 12 + 8)
        return -1;
    CopyText(out->pan, p + 2, pan);
    p += 2 + pan;
    CopyText(out->proc, p, 6);
    CopyText(out->amount, p + 6, 12);
    std::memcpy(out->mac, p + 18, 8);
    return 0;
}

__attribute__((noinline)) int FloorUnpackFull(const unsigned char *body, int len, FullFields *out)
{
    if (std::memcmp(body + 4, kFullBitmap, 8) != 0 || len < 12 + 5 * 399 + 26 + 8)
        return -1;
    const unsigned char *p = body + 12;
    CopyText(out->txcode, body, 4);
    for (char *text : out->text) {
        CopyText(text, p, 399);
        p += 399;
    }
    CopyText(out->tail, p, 26);
    std::memcpy(out->mac, p + 26, 8);
    return 0;
}

__attribute__((noinline)) int FloorSendExample(int sock, const unsigned char *key, const ExampleFields *in)
{
    unsigned char frame[2048];
    int n = FloorPackExample(frame, key, in);
    return SendAll(sock, frame, n);
}

__attribute__((noinline)) int FloorSendFull(int sock, const unsigned char *key, const FullFields *in)
{
    static unsigned char frame[2048];
    int n = FloorPackFull(frame, key, in);
    return SendAll(sock, frame, n);
}

__attribute__((noinline)) int FloorRecvExample(int sock, ExampleFields *out)
{
    unsigned char buf[2048];
    int len = RecvFrame(sock, buf);
    return len < 0 ? -1 : FloorUnpackExample(buf, len, out);
}

__attribute__((noinline)) int FloorRecvFull(int sock, FullFields *out)
{
    static unsigned char buf[2048];
    int len = RecvFrame(sock, buf);
    return len < 0 ? -1 : FloorUnpackFull(buf, len, out);
}

__attribute__((noinline)) int FloorCheckMac(const unsigned char *body, int len, const unsigned char *key)
{
    unsigned char mac[8];
    Mac(body + 12, len - 20, key, mac);
    return std::memcmp(mac, body + len - 8, 8) == 0 ? 0 : -1;
}

}  // extern "C"

ExampleFields ExampleIn()
{
    ExampleFields f{};
    std::strcpy(f.txcode, "0200");
    std::strcpy(f.pan, "12345678");
    std::strcpy(f.proc, "123");
    std::strcpy(f.amount, "1000");
    return f;
}

FullFields FullIn()
{
    FullFields f{};
    std::strcpy(f.txcode, "0200");
    for (char *text : f.text)
        std::memset(text, 'x', 295);
    std::strcpy(f.tail, "tail");
    return f;
}

}  // namespace tranpak::bench
