// The message formatter, natively under the sanitizers: the system's templates, huge
// and odd texts, and conversions without arguments.
#include "common/Format.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

TEST(Format, FillsTheSystemsTemplatesAndSurvivesOddInput)
{
    EXPECT_EQ("Access denied.[80070005]",
              Format("%s[%x]", {"Access denied.", static_cast<long>(0x80070005)}));
    EXPECT_EQ("Unknown error 0x80050001", Format("Unknown error 0x%0lX", {0x80050001ul}));
    EXPECT_EQ("IDispatch error #65023", Format("IDispatch error #%d", {65023}));
    EXPECT_EQ("with MailboxCount is '-5'", Format("with MailboxCount is '%d'", {-5L}));
    EXPECT_EQ("100% 'h'", Format("100%% '%s'", {"h"}));
    // Odd input stays within the text.
    EXPECT_EQ("a '' b", Format("a '%s' b", {}));          // missing argument expands to nothing
    EXPECT_EQ("x", Format("x", {"surplus", 3}));          // surplus arguments are ignored
    EXPECT_EQ("trailing %", Format("trailing %", {"t"})); // a lone % at the end is kept
    EXPECT_EQ("'%s'", Format("'%%s'", {"t"}));
    const std::string huge(1 << 20, 'x');
    EXPECT_EQ(huge.size() + 2, Format("'%s'", {huge}).size());
    const std::string withNul("a\0b", 3);
    EXPECT_EQ(std::string("[a\0b]", 5), Format("[%s]", {withNul}));
    EXPECT_EQ("", Format("%s", {static_cast<const char*>(nullptr)}));
}

} // namespace
} // namespace vela
