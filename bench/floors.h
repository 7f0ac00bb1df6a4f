// Hand-written floors: the least code that does the same work as the
// library for the two measured messages, written for their one layout.
// The library is compared with these in the same run.
//
//   pack    build the frame from the stored field texts (length prefix,
//           '0' or blank fill), fold the data area into 8 bytes, DES with
//           OpenSSL and a fresh key schedule, append MAC and stop byte
//   unpack  copy each field of a received body into a fixed buffer, with
//           the checks that keep it inside the received bytes
//   send    pack, then one send
//   recv    read the frame in two parts (start byte and length digits,
//           then the rest), check the framing, unpack
//   check   fold the received data area, DES with a fresh key schedule,
//           compare with the received MAC
//
// The names are C names so that callgrind can toggle collection on them.
#ifndef TRANPAK_BENCH_FLOORS_H
#define TRANPAK_BENCH_FLOORS_H

namespace tranpak::bench {

// Field texts as the library stores them after SetCell.
struct ExampleFields {
    char txcode[5];
    char pan[20];     // N 19,2
    char proc[7];     // N 6
    char amount[13];  // NF 12, hundredths
    unsigned char mac[8];
};

struct FullFields {
    char txcode[5];
    char text[5][400];  // ANS 399, fields 2 to 6
    char tail[27];      // ANS 26, field 7
    unsigned char mac[8];
};

extern "C" {
// Pack into frame (2048 bytes); returns the frame length.
// The worked example's request and a request that fills the data area, as
// the library's benchmarks set them.
ExampleFields ExampleIn();
FullFields FullIn();

int FloorPackExample(unsigned char *frame, const unsigned char *key, const ExampleFields *in);
int FloorPackFull(unsigned char *frame, const unsigned char *key, const FullFields *in);
// Unpack a frame body (txcode, bitmap, data; len bytes); 0 or -1.
int FloorUnpackExample(const unsigned char *body, int len, ExampleFields *out);
int FloorUnpackFull(const unsigned char *body, int len, FullFields *out);
// Pack and send on sock; 0 or -1.
int FloorSendExample(int sock, const unsigned char *key, const ExampleFields *in);
int FloorSendFull(int sock, const unsigned char *key, const FullFields *in);
// Receive a frame from sock and unpack it; 0 or -1.
int FloorRecvExample(int sock, ExampleFields *out);
int FloorRecvFull(int sock, FullFields *out);
// MAC check of a received frame body (txcode, bitmap, data; len bytes).
int FloorCheckMac(const unsigned char *body, int len, const unsigned char *key);
}

}  // namespace tranpak::bench

#endif
