// The trace decoder's fixture, shared by the tools' tests: the example
// definitions loaded into a session of its own, and the worked example's
// frame as the library builds it.
#ifndef TRANPAK_TEST_TOOL_FIXTURES_H
#define TRANPAK_TEST_TOOL_FIXTURES_H

#include "../tools/common/tool_support.h"
#include "../tools/trace/decode.h"
#include "api/session.h"
#include "codec/packet.h"
#include "support/scratch_dir.h"
#include "tranpak.h"

#include <string>

namespace tranpak::test {

using tools::DecodeOptions;

class DecoderTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_EQ(InitWith(kExampleDefinitions), 0);
        ASSERT_EQ(TpInit8583(&session_, nullptr), 0);
        options_.definitions = &session_;
        ASSERT_TRUE(tools::ParseKey("133457799BBCDFF1", options_.mac.key));
        options_.haveKey = true;
    }
    // The worked example's frame, built by the library itself.
    static std::string ExampleFrame(const unsigned char key[8])
    {
        SetWorkedExample();
        unsigned char frame[2048];
        int len = 0;
        EXPECT_EQ(BuildPacket(DefaultMesg(), DefaultDes(), frame, key, &len), 0);
        return std::string(reinterpret_cast<char *>(frame), static_cast<size_t>(len));
    }
    TpSession session_{};
    DecodeOptions options_;
};

}  // namespace tranpak::test

#endif
