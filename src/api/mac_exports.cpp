// TpMac, TpKeyCheckValue, TpSetMacAlgorithm, TpSetMacCovers and
// TpGetMacAlgorithm. The first two take no session, so they refuse without
// a word; the setters log to their session.
#include "api/session.h"
#include "codec/mac.h"
#include "crypto/mac_algorithms.h"
#include "crypto/secret.h"
#include "kit/mac_names.h"
#include "message/mac_settings.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace tranpak {
namespace {

bool MacArgumentsFit(int algorithm, int padding, const void *key, int keyLen)
{
    return MacAlgorithmKnown(algorithm) && MacPaddingFits(algorithm, padding) && key != nullptr &&
           MacKeyLenFits(algorithm, keyLen);
}

// The session behind s when it is one TpInit8583 made ready, else nullptr.
// Storage not aligned as a TpSession is refused before it is read, as
// every session function refuses it.
Session *ReadySession(TpSession *s)
{
    if (s == nullptr || reinterpret_cast<uintptr_t>(s) % alignof(TpSession) != 0)
        return nullptr;
    Session *session = std::launder(reinterpret_cast<Session *>(s));
    return session->ready == kSessionReady ? session : nullptr;
}

}  // namespace
}  // namespace tranpak

using namespace tranpak;

extern "C" TRANPAK_API int TRANPAK_CALL TpMac(int algorithm, int padding, const void *key, int keyLen, const void *data,
                                              int dataLen, unsigned char *mac, int macLen)
{
    if (!MacArgumentsFit(algorithm, padding, key, keyLen) || dataLen < 0 || (data == nullptr && dataLen > 0) ||
        mac == nullptr || macLen < 1 || macLen > MacBlockSize(algorithm))
        return -1;
    unsigned char full[kMacMaxBlock];
    ComputeMac(algorithm, padding, static_cast<const unsigned char *>(key), keyLen,
               static_cast<const unsigned char *>(data), dataLen, full);
    std::memcpy(mac, full, static_cast<size_t>(macLen));
    WipeSecret(full, sizeof full);
    return 0;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpKeyCheckValue(int method, int algorithm, const void *key, int keyLen,
                                                        unsigned char *kcv, int kcvLen)
{
    // The padding plays no part in a check value.
    if ((method != TP_KCV_ENCRYPT_ZEROS && method != TP_KCV_CMAC) ||
        !MacArgumentsFit(algorithm, TP_MAC_PAD1, key, keyLen) || kcv == nullptr || kcvLen < 1 ||
        kcvLen > MacBlockSize(algorithm))
        return -1;
    unsigned char full[kMacMaxBlock];
    KeyCheckBlock(method, algorithm, static_cast<const unsigned char *>(key), keyLen, full);
    std::memcpy(kcv, full, static_cast<size_t>(kcvLen));
    WipeSecret(full, sizeof full);
    return 0;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpSetMacAlgorithm(TpSession *s, int algorithm, int padding, int keyLen)
{
    Session *session = ReadySession(s);
    if (session == nullptr)
        return -1;
    MesgState &m = session->mesg;
    ExportedCall opened(m.lastErr);
    if (!MacAlgorithmKnown(algorithm)) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpSetMacAlgorithm() algorithm = %d, no such MAC", algorithm);
        return -1;
    }
    if (!MacPaddingFits(algorithm, padding)) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpSetMacAlgorithm() padding = %d, not 1 or 2", padding);
        return -1;
    }
    if (!MacKeyLenFits(algorithm, keyLen)) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpSetMacAlgorithm() keyLen = %d, not a key length of %s", keyLen,
                    MacAlgorithmName(algorithm));
        return -1;
    }
    m.settings.macAlgorithm = algorithm;
    m.settings.macPadding = MacPaddingFits(TP_MAC_ISO9797_1_ALG1, padding) ? padding : TP_MAC_PAD1;
    m.settings.macKeyLen = keyLen;
    m.settings.macCovers = algorithm == TP_MAC_LEGACY ? TP_MAC_COVERS_DATA : TP_MAC_COVERS_MESSAGE;
    return 0;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpSetMacCovers(TpSession *s, int covers)
{
    Session *session = ReadySession(s);
    if (session == nullptr)
        return -1;
    MesgState &m = session->mesg;
    ExportedCall opened(m.lastErr);
    if (covers != TP_MAC_COVERS_MESSAGE && covers != TP_MAC_COVERS_DATA) {
        WriteErrLog(m.Log(), kErrArgument, "tranpak: TpSetMacCovers() covers = %d, not MESSAGE (1) or DATA (2)",
                    covers);
        return -1;
    }
    if (covers == TP_MAC_COVERS_MESSAGE && m.settings.macAlgorithm == TP_MAC_LEGACY) {
        WriteErrLog(m.Log(), kErrArgument,
                    "tranpak: TpSetMacCovers() covers = MESSAGE, LEGACY covers the data area only");
        return -1;
    }
    m.settings.macCovers = covers;
    return 0;
}

extern "C" TRANPAK_API int TRANPAK_CALL TpGetMacAlgorithm(TpSession *s, int *algorithm, int *padding, int *keyLen,
                                                          int *covers)
{
    const Session *session = ReadySession(s);
    if (session == nullptr)
        return -1;
    const LibSettings &set = session->mesg.settings;
    if (algorithm != nullptr)
        *algorithm = set.macAlgorithm;
    const bool pads = set.macAlgorithm == TP_MAC_ISO9797_1_ALG1 || set.macAlgorithm == TP_MAC_ISO9797_1_ALG3;
    if (padding != nullptr)
        *padding = pads ? set.macPadding : TP_MAC_PAD1;
    if (keyLen != nullptr)
        *keyLen = set.macKeyLen;
    if (covers != nullptr)
        *covers = set.macCovers == TP_MAC_COVERS_MESSAGE ? TP_MAC_COVERS_MESSAGE : TP_MAC_COVERS_DATA;
    return 0;
}
