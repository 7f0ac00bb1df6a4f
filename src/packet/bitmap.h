// The 8-byte presence bitmap: the bit of field n (index i = n-1) is in
// byte i/8 under the mask 0x80 >> i%8, so field 1 is the top bit of byte 0
// and field 64 the bottom bit of byte 7.
#ifndef TRANPAK_PACKET_BITMAP_H
#define TRANPAK_PACKET_BITMAP_H

namespace tranpak {

// 1 if the bit of index i is set, else 0.
int TestBit(const unsigned char bitmap[8], int i);
// Sets the bit of index i when flag is non-zero, clears it otherwise.
int SetBit(unsigned char bitmap[8], int flag, int i);

}  // namespace tranpak

#endif
