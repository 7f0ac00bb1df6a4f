// Runs CheckMesgMac on a received worked example whose MAC is wrong in one
// byte, for tests/e2e/mac_check_paths.sh to count its instructions:
//   mac_check_probe legacy|alg3|aes first|last
// Exits 0 when every check refused the MAC, 1 otherwise.
#include "api/session.h"
#include "codec/mac.h"
#include "tranpak.h"

#include <cstring>
#include <string>

using namespace tranpak;

namespace {

constexpr int kCalls = 20;
constexpr char kCovered[] = "0812345678000123000000001000";
constexpr int kCoveredLen = sizeof kCovered - 1;

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const std::string algorithm = argv[1];
    const bool first = std::string(argv[2]) == "first";
    static Session session;
    MesgState &m = session.mesg;
    if (algorithm == "alg3") {
        m.settings.macAlgorithm = TP_MAC_ISO9797_1_ALG3;
        m.settings.macPadding = TP_MAC_PAD2;
        m.settings.macKeyLen = 16;
    } else if (algorithm == "aes") {
        m.settings.macAlgorithm = TP_MAC_AES_CMAC;
        m.settings.macKeyLen = 32;
    }
    unsigned char key[32];
    for (int i = 0; i < 32; ++i)
        key[i] = static_cast<unsigned char>(0x11 * (i + 1));
    int refused = 0;
    for (int call = 0; call < kCalls; ++call) {
        // The message as a receive leaves it, its MAC then spoilt in one byte.
        std::memcpy(m.packet.data, kCovered, kCoveredLen);
        CalcMac(session.mesg, session.des, key, kCoveredLen);
        m.cells[kMacCell].buf[first ? 0 : kMacSize - 1] ^= 0x01;
        std::memcpy(m.packet.data + kCoveredLen, m.cells[kMacCell].buf, kMacSize);
        m.packet.len = kCoveredLen + 20;
        if (CheckMesgMac(session.mesg, session.des, key) == -1)
            ++refused;
    }
    return refused == kCalls ? 0 : 1;
}
