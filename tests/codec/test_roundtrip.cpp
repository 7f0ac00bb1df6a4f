// Property: for random definition sets and random valid values, a message
// sent over a connection and received again gives back the same values,
// and its MAC passes with the sending key and fails with any other.
#include "api/session.h"
#include "message/mesg_state.h"
#include "support/peer.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <cstring>
#include <random>

namespace tranpak::test {
namespace {

// Encoded size of a sent message's fields 1 to 63 at most.
constexpr int kBudget = 2029 - 8;
const char *const kTypeNames[] = {"ANS", "NI", "NF", "A", "AN", "N", "B"};

struct Def {
    int type, maxlen, varlen;
};

class RoundTrip {
public:
    explicit RoundTrip(uint32_t seed) : rng_(seed) {}

    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    // Random definitions for fields 1 to 63 within the data area.
    std::string Definitions()
    {
        int budget = kBudget;
        std::string text;
        for (int field = 1; field <= 63; ++field) {
            defs_[field] = {0, 0, 0};
            if (Pick(0, 2) != 0)
                continue;
            Def d{Pick(0, 6), 0, 0};
            bool variable = d.type != kTypeB && Pick(0, 1) == 1;
            // Any int fits 11 characters; an amount has at least 3 digits.
            int low = d.type == kTypeNI ? 11 : d.type == kTypeNF ? 4 : 1;
            d.maxlen = Pick(low, d.type == kTypeNF ? 17 : 60);
            if (variable)
                d.varlen = Pick(2, 3);
            if (d.maxlen + d.varlen > budget)
                continue;
            budget -= d.maxlen + d.varlen;
            defs_[field] = d;
            text += "F" + std::to_string(field) + " " + kTypeNames[d.type] + " " + std::to_string(d.maxlen) +
                    (variable ? "," + std::to_string(d.varlen) : "") + " " + std::to_string(field) + "\n";
        }
        return text + "MAC B 8 64\n";
    }

    std::string Chars(int len, const char *alphabet)
    {
        std::string s;
        int n = static_cast<int>(std::strlen(alphabet));
        for (int i = 0; i < len; ++i)
            s += alphabet[Pick(0, n - 1)];
        return s;
    }

    // A value SetCell keeps as it is (no blanks or tabs to trim at the ends).
    std::string TextValue(const Def &d)
    {
        int len = Pick(0, d.maxlen);
        switch (d.type) {
        case kTypeA: {
            std::string s = Chars(len, "abcXYZ ");
            return len == 0 ? s : "q" + s.substr(1, len > 1 ? len - 2 : 0) + (len > 1 ? "Q" : "");
        }
        case kTypeAN: {
            std::string s = Chars(len, "ab09Z ");
            return len == 0 ? s : "1" + s.substr(1, len > 1 ? len - 2 : 0) + (len > 1 ? "z" : "");
        }
        case kTypeN:
            if (len >= 2 && Pick(0, 3) == 0)
                return "-" + Chars(len - 1, "0123456789");
            return Chars(len, "0123456789");
        default: {
            std::string s = Chars(len, "aZ0 !~#.,\x7F\xE9");
            return len == 0 ? s : "<" + s.substr(1, len > 1 ? len - 2 : 0) + (len > 1 ? ">" : "");
        }
        }
    }

    Def defs_[64] = {};
    std::mt19937 rng_;
};

class RoundTripTest : public ScratchTest {};

TEST_F(RoundTripTest, RandomMessagesSurviveTheWire)
{
    constexpr int kRounds = 150;
    int fieldsSent = 0;
    for (int round = 0; round < kRounds; ++round) {
        RoundTrip r(1000 + round);
        DefaultMesg() = MesgState{};
        ASSERT_EQ(InitWith(r.Definitions()), 0) << "round " << round << ": " << LastErr();
        ResetMesg();
        SetCell(0, "0200");

        std::string text[64];
        int ints[64] = {};
        long long hundredths[64] = {};
        std::string bytes[64];
        bool set[64] = {};
        for (int field = 1; field <= 63; ++field) {
            const Def &d = r.defs_[field];
            if (d.maxlen == 0 || r.Pick(0, 4) == 0)
                continue;
            set[field] = true;
            ++fieldsSent;
            int rc = -1;
            if (d.type == kTypeNI) {
                ints[field] = static_cast<int>(r.rng_());
                rc = SetCell(field, &ints[field]);
            } else if (d.type == kTypeNF) {
                // Hundredths whose text (sign, at least three digits) fits.
                int digits = r.Pick(1, d.maxlen - 1 < 15 ? d.maxlen - 1 : 15);
                long long limit = 1;
                for (int k = 0; k < digits; ++k)
                    limit *= 10;
                hundredths[field] = std::uniform_int_distribution<long long>(-(limit - 1), limit - 1)(r.rng_);
                double amount = static_cast<double>(hundredths[field]) / 100.0;
                rc = SetCell(field, &amount);
            } else if (d.type == kTypeB) {
                bytes[field] = r.Chars(d.maxlen, "\x01\x02\x7F\x80\xFF\r\n ");
                bytes[field][0] = '\0';
                rc = SetCell(field, bytes[field].data());
            } else {
                text[field] = r.TextValue(d);
                rc = SetCell(field, text[field].c_str());
            }
            ASSERT_EQ(rc, 0) << "round " << round << " field " << field << ": " << LastErr();
        }

        unsigned char key[8], otherKey[8];
        for (auto &b : key)
            b = static_cast<unsigned char>(r.Pick(0, 255));
        std::memcpy(otherKey, key, 8);
        otherKey[r.Pick(0, 7)] ^= static_cast<unsigned char>(2 << r.Pick(0, 6));  // never only a parity bit

        ScriptedPeer echo({Read(6), ReadToEnd()});
        int sock = ::SockConnect("127.0.0.1", echo.port());
        ASSERT_EQ(SockSendMesg(sock, key), 0) << "round " << round << ": " << LastErr();
        ::SockClose(sock);
        std::string frame = echo.Received();

        ScriptedPeer host({Send(frame), Close()});
        sock = ::SockConnect("127.0.0.1", host.port());
        ASSERT_EQ(SockRecvMesg(sock, 0), 0) << "round " << round << ": " << LastErr();
        ::SockClose(sock);

        for (int field = 1; field <= 63; ++field) {
            const Def &d = r.defs_[field];
            if (!set[field]) {
                EXPECT_EQ(DefaultMesg().cells[field - 1].used, 0);
                continue;
            }
            char out[kCellBufSize + 1] = {};
            ASSERT_EQ(GetCell(field, out), 0) << "round " << round << " field " << field;
            if (d.type == kTypeNI) {
                int v;
                std::memcpy(&v, out, sizeof v);
                EXPECT_EQ(v, ints[field]);
            } else if (d.type == kTypeNF) {
                double v;
                std::memcpy(&v, out, sizeof v);
                EXPECT_EQ(v, static_cast<double>(hundredths[field]) / 100.0) << "field " << field;
            } else if (d.type == kTypeB) {
                EXPECT_EQ(std::string(out, static_cast<size_t>(d.maxlen)), bytes[field]);
            } else if (d.varlen > 0 || static_cast<int>(text[field].size()) == d.maxlen) {
                EXPECT_EQ(std::string(out), text[field]);
            } else if (d.type == kTypeN) {
                // Fixed numbers arrive filled with '0' behind any sign.
                std::string sent = text[field], sign;
                if (!sent.empty() && (sent[0] == '-' || sent[0] == '+')) {
                    sign = sent.substr(0, 1);
                    sent = sent.substr(1);
                }
                EXPECT_EQ(std::string(out), sign + std::string(d.maxlen - sign.size() - sent.size(), '0') + sent);
            } else {
                EXPECT_EQ(std::string(out), text[field] + std::string(d.maxlen - text[field].size(), ' '));
            }
        }
        EXPECT_EQ(CheckMesgMac(key), 0) << "round " << round;
        EXPECT_EQ(CheckMesgMac(otherKey), -1) << "round " << round;
    }
    EXPECT_GT(fieldsSent, kRounds * 8);  // the rounds carried real messages
}

}  // namespace
}  // namespace tranpak::test
